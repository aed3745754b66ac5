# Install rules and the packages made from them with CPack.
#
# Windows: the programs at the root of the tree, since they lie beside the
# engine, with the notices and the documentation.
# Linux: the programs in lib/quillwave/ (the launcher finds the engine and its
# window module beside itself), the persona tool also as bin/quillwave-persona,
# a relative link with its manual page, and the documentation in
# share/doc/quillwave-launcher/.
#
# Included at the end of the top-level CMakeLists.txt: programs added anywhere
# before it, the persona tool too, are installed when their target exists.

set(QUILLWAVE_PACKAGE_NAME quillwave-launcher)
set(QUILLWAVE_PACKAGE_CONTACT "Quillwave <releases@quillwave.invalid>"
  CACHE STRING "Maintainer named in the Debian package and its changelog")

if(WIN32)
  set(quillwave_program_dir .)
  set(quillwave_doc_dir .)
else()
  set(quillwave_program_dir lib/quillwave)
  set(quillwave_doc_dir share/doc/${QUILLWAVE_PACKAGE_NAME})
endif()
# The same modes whatever the umask of the machine that packs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS quillwave-launcher RUNTIME DESTINATION ${quillwave_program_dir})
if(TARGET quillwave-progress-gtk)
  install(TARGETS quillwave-progress-gtk LIBRARY DESTINATION ${quillwave_program_dir})
endif()
if(TARGET quillwave-persona)
  install(TARGETS quillwave-persona RUNTIME DESTINATION ${quillwave_program_dir})
  if(NOT WIN32)
    # Relative, so the tree works wherever it is unpacked.
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
    file(CREATE_LINK ../${quillwave_program_dir}/quillwave-persona ${CMAKE_BINARY_DIR}/install/quillwave-persona
      SYMBOLIC)
    install(FILES ${CMAKE_BINARY_DIR}/install/quillwave-persona DESTINATION bin)
    # Its manual page, compressed without a name or time in the header so the
    # bytes depend on the text only.
    set(quillwave_manual ${CMAKE_SOURCE_DIR}/packaging/quillwave-persona.1)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quillwave_manual})
    execute_process(COMMAND gzip -9n -c ${quillwave_manual} OUTPUT_FILE ${CMAKE_BINARY_DIR}/install/quillwave-persona.1.gz
      RESULT_VARIABLE quillwave_gzip_failed)
    if(quillwave_gzip_failed)
      message(FATAL_ERROR "gzip failed on the manual page")
    endif()
    install(FILES ${CMAKE_BINARY_DIR}/install/quillwave-persona.1.gz DESTINATION share/man/man1)
  endif()
endif()

install(FILES README.md packaging/THIRD-PARTY-NOTICES.txt DESTINATION ${quillwave_doc_dir})
file(GLOB quillwave_docs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md ${CMAKE_SOURCE_DIR}/docs/*.png)
list(SORT quillwave_docs)
install(FILES ${quillwave_docs} DESTINATION ${quillwave_doc_dir}/docs)
# The schemas of the persona and the records, where the README points.
file(GLOB quillwave_schemas CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/schemas/*.json)
list(SORT quillwave_schemas)
install(FILES ${quillwave_schemas} DESTINATION ${quillwave_doc_dir}/schemas)

# --- Packages ---------------------------------------------------------------
set(CPACK_PACKAGE_NAME ${QUILLWAVE_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Quillwave")
set(CPACK_PACKAGE_CONTACT "${QUILLWAVE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "launcher of the Quillwave browser engine")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack_per_generator.cmake)
# Every time inside the packages is the commit's: SOURCE_DATE_EPOCH when set,
# else the time of the checked-out commit, else (no git) the time of configuring.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE quillwave_commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT quillwave_commit_time MATCHES "^[0-9]+$")
    string(TIMESTAMP quillwave_commit_time "%s" UTC)
  endif()
  # string(TIMESTAMP) below reads it too.
  set(ENV{SOURCE_DATE_EPOCH} ${quillwave_commit_time})
endif()
set(CPACK_QUILLWAVE_EPOCH $ENV{SOURCE_DATE_EPOCH})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/reproducible_packages.cmake)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${QUILLWAVE_PACKAGE_NAME}-${PROJECT_VERSION}-windows-x64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME ${QUILLWAVE_PACKAGE_NAME}-${PROJECT_VERSION}-linux-x86_64)

  set(CPACK_DEBIAN_FILE_NAME ${QUILLWAVE_PACKAGE_NAME}_${PROJECT_VERSION}_amd64.deb)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_SECTION web)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The launcher needs only the C library (2.36: the C++ runtime linked in
  # calls arc4random) and curl for discovery; its window module needs GTK 3,
  # and without it the launch goes on without a window.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36), curl")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0")
  # CPack puts the summary first; this is the extended description below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Started in place of the Quillwave browser engine, which lies beside it in
/usr/lib/quillwave/ as quillwave-engine. It reads the profile's persona,
learns through the persona's proxy which public address the browser will
appear from when asked to, clears the storage the persona selects and starts
the engine with the switches the persona implies.")

  # The Debian copyright file and changelog go into the Debian package only;
  # a package without a Debian revision names its changelog changelog.gz.
  string(TIMESTAMP quillwave_year "%Y" UTC)
  string(TIMESTAMP quillwave_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(quillwave_debian_dir ${CMAKE_BINARY_DIR}/packaging/debian)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/copyright.in ${quillwave_debian_dir}/copyright @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in ${quillwave_debian_dir}/changelog @ONLY)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/add_debian_files.cmake)
  file(WRITE ${CPACK_PRE_BUILD_SCRIPTS} "
if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(doc \"\${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/${quillwave_doc_dir}\")
  file(COPY_FILE \"${quillwave_debian_dir}/copyright\" \"\${doc}/copyright\")
  # gzip -n: no name or time in the header, so the bytes depend on the text only.
  execute_process(COMMAND gzip -9n -c \"${quillwave_debian_dir}/changelog\"
    OUTPUT_FILE \"\${doc}/changelog.gz\" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"gzip failed on the Debian changelog\")
  endif()
  file(CHMOD \"\${doc}/copyright\" \"\${doc}/changelog.gz\"
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
")
endif()
include(CPack)
