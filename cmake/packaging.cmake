# Install rules and the packages made from them with CPack.
#
# Windows: the programs at the root of the tree, since they lie beside the
# engine, with the notices and the documentation.
# Linux: the programs in lib/quillwave/ (the launcher finds the engine and its
# window module beside itself), the persona tool also as bin/quillwave-persona,
# a relative link with its manual page, and the documentation in
# share/doc/quillwave-launcher/.
#
# Linux also gets quillwave-geo, the primary endpoint service, as a Debian
# package of its own: the install component "geo" (everything else is the
# component "launcher"), in sbin/ with its manual page, its systemd unit (put
# in by the Debian packing only) and its documentation.
#
# A build whose endpoints are still the placeholders (cmake/endpoints.cmake)
# names every package with "-placeholder", so that it is not shipped by
# mistake.
#
# Included at the end of the top-level CMakeLists.txt: programs added anywhere
# before it, the persona tool too, are installed when their target exists.

set(quillwave_name_suffix "")
if(QUILLWAVE_ENDPOINTS_ARE_PLACEHOLDERS)
  set(quillwave_name_suffix -placeholder)
endif()
set(QUILLWAVE_PACKAGE_NAME quillwave-launcher${quillwave_name_suffix})
set(QUILLWAVE_GEO_PACKAGE_NAME quillwave-geo${quillwave_name_suffix})
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME launcher)
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
    set(quillwave_persona_manual TRUE)
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
# The example personas and WebGL profiles, to copy from (examples/README.md).
install(FILES examples/README.md examples/persona-complete.json examples/corvane-webgl-profiles.json
  DESTINATION ${quillwave_doc_dir}/examples)
install(FILES examples/profile/command-line.json DESTINATION ${quillwave_doc_dir}/examples/profile)

# Compressed without a name or time in the header, so the bytes depend on the
# text only.
function(quillwave_install_manual page section component)
  set(source ${CMAKE_SOURCE_DIR}/${page})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
  get_filename_component(name ${page} NAME)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${CMAKE_BINARY_DIR}/install/${name}.gz
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
  install(FILES ${CMAKE_BINARY_DIR}/install/${name}.gz DESTINATION share/man/man${section} COMPONENT ${component})
endfunction()

if(quillwave_persona_manual)
  quillwave_install_manual(packaging/quillwave-persona.1 1 launcher)
endif()

if(TARGET quillwave-geo)
  set(quillwave_geo_doc_dir share/doc/${QUILLWAVE_GEO_PACKAGE_NAME})
  install(TARGETS quillwave-geo RUNTIME DESTINATION sbin COMPONENT geo)
  quillwave_install_manual(packaging/geo/quillwave-geo.8 8 geo)
  # Its own README, whose links lead to what the package holds.
  install(FILES packaging/geo/README.md docs/endpoints.md DESTINATION ${quillwave_geo_doc_dir} COMPONENT geo)
  install(FILES packaging/THIRD-PARTY-NOTICES.txt DESTINATION ${quillwave_geo_doc_dir} COMPONENT geo)
endif()

# --- Packages ---------------------------------------------------------------
set(CPACK_PACKAGE_NAME ${QUILLWAVE_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Quillwave")
set(CPACK_PACKAGE_CONTACT "${QUILLWAVE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
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
  # One Debian package per component; the tarball holds the launcher only
  # (cmake/cpack_per_generator.cmake).
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL launcher)
  if(TARGET quillwave-geo)
    list(APPEND CPACK_COMPONENTS_ALL geo)
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME ${QUILLWAVE_PACKAGE_NAME})
  set(CPACK_DEBIAN_LAUNCHER_FILE_NAME ${QUILLWAVE_PACKAGE_NAME}_${PROJECT_VERSION}_amd64.deb)
  set(CPACK_DEBIAN_LAUNCHER_PACKAGE_SECTION web)
  # The launcher needs only the C library (2.36: the C++ runtime linked in
  # calls arc4random) and curl for discovery; its window module needs GTK 3,
  # and without it the launch goes on without a window.
  set(CPACK_DEBIAN_LAUNCHER_PACKAGE_DEPENDS "libc6 (>= 2.36), curl")
  set(CPACK_DEBIAN_LAUNCHER_PACKAGE_RECOMMENDS "libgtk-3-0")
  # The summary line, then the extended description (with no summary of the
  # project's own, CPack takes each package's first line as its summary).
  set(CPACK_DEBIAN_LAUNCHER_DESCRIPTION "launcher of the Quillwave browser engine
Started in place of the Quillwave browser engine, which lies beside it in
/usr/lib/quillwave/ as quillwave-engine. It reads the profile's persona,
learns through the persona's proxy which public address the browser will
appear from when asked to, clears the storage the persona selects and starts
the engine with the switches the persona implies.")

  set(CPACK_DEBIAN_GEO_PACKAGE_NAME ${QUILLWAVE_GEO_PACKAGE_NAME})
  set(CPACK_DEBIAN_GEO_FILE_NAME ${QUILLWAVE_GEO_PACKAGE_NAME}_${PROJECT_VERSION}_amd64.deb)
  set(CPACK_DEBIAN_GEO_PACKAGE_SECTION net)
  # The C++ runtime is linked in as in the launcher; the database reader and
  # the HTTP server are Debian's (the versions as dpkg-shlibdeps gives them).
  set(CPACK_DEBIAN_GEO_PACKAGE_DEPENDS "libc6 (>= 2.36), libmaxminddb0 (>= 1.0.2), libmicrohttpd12 (>= 0.9.50)")
  set(CPACK_DEBIAN_GEO_DESCRIPTION "primary lookup endpoint of a Quillwave deployment
quillwave-geo tells a Quillwave launcher, which asks through the persona's
proxy, the public address the request came from and the country, time zone
and coordinates a MaxMind DB city database gives for it. It runs as a
systemd service; the database and the API keys are the operator's.")

  # Files only the Debian packages hold: each package's copyright file and
  # changelog (a package without a Debian revision names it changelog.gz) and
  # the service's systemd unit, which stays out of the install rules so that
  # installing the tree elsewhere never writes into /lib.
  string(TIMESTAMP quillwave_year "%Y" UTC)
  string(TIMESTAMP quillwave_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(quillwave_debian_dir ${CMAKE_BINARY_DIR}/packaging/debian)
  set(quillwave_components launcher geo)
  set(quillwave_packages ${QUILLWAVE_PACKAGE_NAME} ${QUILLWAVE_GEO_PACKAGE_NAME})
  set(quillwave_programs "usr/lib/quillwave/*" "usr/sbin/*")
  set(quillwave_titles "the Quillwave launcher" "quillwave-geo")
  foreach(component package programs title IN ZIP_LISTS
          quillwave_components quillwave_packages quillwave_programs quillwave_titles)
    set(quillwave_debian_package ${package})
    set(quillwave_debian_programs ${programs})
    set(quillwave_debian_title ${title})
    configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/copyright.in ${quillwave_debian_dir}/${component}/copyright @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in ${quillwave_debian_dir}/${component}/changelog @ONLY)
  endforeach()
  foreach(unit quillwave-geo.service quillwave-geo.path)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/geo/${unit} ${quillwave_debian_dir}/geo/${unit} COPYONLY)
  endforeach()
  # The service's maintainer scripts, in the manner of Debian's systemd helpers.
  set(CPACK_DEBIAN_GEO_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/geo/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/geo/debian/prerm ${CMAKE_SOURCE_DIR}/packaging/geo/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/add_debian_files.cmake)
  file(WRITE ${CPACK_PRE_BUILD_SCRIPTS} "
# Each component's tree lies in a folder of its name.
function(quillwave_add_debian_files component package)
  set(tree \"\${CPACK_TEMPORARY_DIRECTORY}/\${component}\")
  set(doc \"\${tree}/usr/share/doc/\${package}\")
  file(COPY_FILE \"${quillwave_debian_dir}/\${component}/copyright\" \"\${doc}/copyright\")
  # gzip -n: no name or time in the header, so the bytes depend on the text only.
  execute_process(COMMAND gzip -9n -c \"${quillwave_debian_dir}/\${component}/changelog\"
    OUTPUT_FILE \"\${doc}/changelog.gz\" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"gzip failed on the Debian changelog\")
  endif()
  file(CHMOD \"\${doc}/copyright\" \"\${doc}/changelog.gz\"
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()
if(CPACK_GENERATOR STREQUAL \"DEB\")
  quillwave_add_debian_files(launcher ${QUILLWAVE_PACKAGE_NAME})
  if(IS_DIRECTORY \"\${CPACK_TEMPORARY_DIRECTORY}/geo\")
    quillwave_add_debian_files(geo ${QUILLWAVE_GEO_PACKAGE_NAME})
    set(units \"\${CPACK_TEMPORARY_DIRECTORY}/geo/lib/systemd/system\")
    file(MAKE_DIRECTORY \"\${units}\")
    foreach(unit quillwave-geo.service quillwave-geo.path)
      file(COPY_FILE \"${quillwave_debian_dir}/geo/\${unit}\" \"\${units}/\${unit}\")
      file(CHMOD \"\${units}/\${unit}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endforeach()
  endif()
endif()
")
endif()
include(CPack)
