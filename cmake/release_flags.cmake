# Compile and link settings of the builds that are shipped (QUILLWAVE_RELEASE,
# set by the release presets): stripped, free of the build's own paths and
# times so that the same commit always gives the same bytes, and, on Linux,
# with the C++ and GCC runtimes linked in so that a launch loads only the C
# library. Included before any target is made.
option(QUILLWAVE_RELEASE "Build the shipped programs: stripped, reproducible, runtimes linked statically" OFF)
if(NOT QUILLWAVE_RELEASE)
  return()
endif()
if(MSVC)
  message(FATAL_ERROR "the release build uses GCC (natively and MinGW-w64)")
endif()

# Sources and generated headers are named relative to the tree, wherever the
# clone lies (the binary folder second: GCC tries the last map first).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
add_link_options(-s)
if(WIN32)
  # The PE header's link time would differ in each build.
  add_link_options(-Wl,--no-insert-timestamp)
else()
  # The C++ and GCC runtimes linked in, so that a launch loads only the C
  # library. The window module gets its own copy, kept hidden, so that a C++
  # runtime a toolkit library brings along cannot take its calls.
  add_link_options(-static-libstdc++ -static-libgcc -Wl,--exclude-libs,ALL)
  # Tried on the direct launch against the static floor as well and left
  # out, since no gain stood out from the noise: --gc-sections,
  # -z pack-relative-relocs. Building without PIE saved a few percent but
  # would give up address randomisation of the program; PIE, full RELRO and
  # immediate binding are cmake/hardening.cmake's.
endif()
