# Run by CPack after it made a package (CPACK_POST_BUILD_SCRIPTS): packs the
# same tree again so that the bytes depend on the commit only. CPack's own
# archives carry the time of packing (in the gzip header, the ar members and
# every entry), the owner of the packing user and the directory order of the
# disk. Here every entry gets the commit's time (CPACK_QUILLWAVE_EPOCH), owner
# root, modes 755 or 644 and a sorted place; gzip gets no name or time.
# Needs tar, gzip, zip, unzip and dpkg-deb.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed ERROR_VARIABLE errors OUTPUT_QUIET)
  if(failed)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${failed}): ${command}\n${errors}")
  endif()
endfunction()

# One mode and one time for the whole tree: what was executable stays so.
function(normalise tree)
  run(chmod -R u=rwX,go=rX ${tree})
  run(find ${tree} -exec touch -h -d @${CPACK_QUILLWAVE_EPOCH} {} +)
endfunction()

if(NOT CPACK_QUILLWAVE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "CPACK_QUILLWAVE_EPOCH is not a time: '${CPACK_QUILLWAVE_EPOCH}'")
endif()
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_QUILLWAVE_EPOCH})
set(ENV{TZ} UTC)  # zip stores local time
set(ENV{LC_ALL} C)  # sort order

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${package} NAME)
  set(work ${CPACK_TOPLEVEL_DIRECTORY}/repack/${name})
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work}/tree)
  if(name MATCHES "\\.tar\\.gz$")
    run(tar -xzf ${package} -C ${work}/tree)
    normalise(${work}/tree)
    file(GLOB top RELATIVE ${work}/tree ${work}/tree/*)
    execute_process(
      COMMAND tar --sort=name --format=gnu --mtime=@${CPACK_QUILLWAVE_EPOCH} --owner=0 --group=0 --numeric-owner
              -C ${work}/tree -cf - ${top}
      COMMAND gzip -9n
      OUTPUT_FILE ${work}/${name} RESULT_VARIABLE failed)
  elseif(name MATCHES "\\.zip$")
    run(unzip -q ${package} -d ${work}/tree)
    normalise(${work}/tree)
    # -X: no owner or extra time fields; the list in sorted order, folders too.
    execute_process(
      COMMAND find . -mindepth 1
      COMMAND sort
      COMMAND zip -q -X -9 -@ ${work}/${name}
      WORKING_DIRECTORY ${work}/tree RESULT_VARIABLE failed)
  elseif(name MATCHES "\\.deb$")
    run(dpkg-deb -R ${package} ${work}/tree)
    normalise(${work}/tree)
    # dpkg-deb sorts the entries and takes their times from SOURCE_DATE_EPOCH;
    # one compressor thread, since the split into blocks follows the count.
    run(dpkg-deb --root-owner-group -Zxz --threads-max=1 --build ${work}/tree ${work}/${name})
    set(failed 0)
  else()
    message(FATAL_ERROR "no reproducible form known for ${name}")
  endif()
  if(failed)
    message(FATAL_ERROR "packing ${name} again failed (${failed})")
  endif()
  file(RENAME ${work}/${name} ${package})
  file(REMOVE_RECURSE ${work})
endforeach()
