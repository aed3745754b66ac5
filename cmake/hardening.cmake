# Exploit mitigations for every program the build makes, in one place.
#
# Linux: stack protector (strong), _FORTIFY_SOURCE, full RELRO with
# immediate binding, and position-independent executables. FORTIFY is left
# out of the sanitizer and fuzz builds: AddressSanitizer checks those calls
# itself and reports false positives on the checked variants.
# Windows (MinGW-w64): address space randomisation, with high entropy, and
# non-executable data, which the linker gives by default and which are
# asked for here so that no linker change takes them away.
if(MSVC)
  return()
endif()

if(WIN32)
  add_link_options(-Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong)
add_link_options(-Wl,-z,relro -Wl,-z,now)
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize" AND NOT QUILLWAVE_FUZZ)
  # Needs optimisation, which every preset's build type has.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()
