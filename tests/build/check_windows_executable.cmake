# Checks the built Windows launcher from the outside, with objdump on the build
# host: 64-bit GUI program with ASLR (high entropy) and DEP, only Windows
# system DLLs imported (the MinGW runtime is linked statically), and the
# resources Explorer and the loader read: the version block, the icon group
# and a single asInvoker manifest that declares per-monitor DPI awareness (v2,
# with the older spelling for systems that lack it).
#
#   cmake -DEXECUTABLE=<exe> -DOBJDUMP=<objdump> -DVERSION=<major.minor.patch> -P check_windows_executable.cmake

cmake_minimum_required(VERSION 3.25)

set(failures "")
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

if(NOT EXISTS "${EXECUTABLE}")
  message(FATAL_ERROR "no executable at '${EXECUTABLE}'; build the launcher first")
endif()
if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION must be major.minor.patch, not '${VERSION}'")
endif()
set(version_major ${CMAKE_MATCH_1})
set(version_minor ${CMAKE_MATCH_2})
set(version_patch ${CMAKE_MATCH_3})
if(NOT OBJDUMP OR NOT EXISTS "${OBJDUMP}")
  message(FATAL_ERROR "objdump not found ('${OBJDUMP}'); install binutils-mingw-w64-x86-64")
endif()

execute_process(COMMAND "${OBJDUMP}" -h -p "${EXECUTABLE}"
  OUTPUT_VARIABLE dump ERROR_VARIABLE dump_errors RESULT_VARIABLE dump_result TIMEOUT 60)
if(NOT dump_result EQUAL 0)
  message(FATAL_ERROR "objdump failed (${dump_result}): ${dump_errors}")
endif()
# Square brackets and semicolons would confuse CMake's list handling below.
string(REGEX REPLACE "[][;]" "_" dump "${dump}")

# --- Headers --------------------------------------------------------------
if(NOT dump MATCHES "file format pei-x86-64")
  fail("not a pei-x86-64 image")
endif()
if(NOT dump MATCHES "\nMagic[ \t]+020b[ \t]+\\(PE32\\+\\)")
  fail("optional header is not PE32+")
endif()
if(NOT dump MATCHES "\nSubsystem[ \t]+0*2[ \t]+\\(Windows GUI\\)")
  string(REGEX MATCH "\nSubsystem[^\n]*" subsystem "${dump}")
  fail("subsystem is not Windows GUI (2):${subsystem}")
endif()
# Address space randomisation, with high entropy, and non-executable data
# (cmake/hardening.cmake).
foreach(flag HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT)
  if(NOT dump MATCHES "\nDllCharacteristics[^\n]*\n([ \t]+[A-Z_]+\n)*[ \t]+${flag}\n")
    fail("DllCharacteristics lacks ${flag}")
  endif()
endforeach()

# --- Imports --------------------------------------------------------------
# Windows system DLLs only: a MinGW runtime DLL (libstdc++, libgcc,
# libwinpthread) would be missing on the machines the launcher runs on.
set(allowed_dlls
  kernel32.dll user32.dll gdi32.dll shell32.dll shlwapi.dll advapi32.dll
  comctl32.dll comdlg32.dll ole32.dll oleaut32.dll uxtheme.dll version.dll
  msvcrt.dll ucrtbase.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" dll_lines "${dump}")
if(NOT dll_lines)
  fail("no imported DLLs found")
endif()
set(imported "")
foreach(line IN LISTS dll_lines)
  string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll_lower)
  list(APPEND imported "${dll}")
  if(NOT dll_lower IN_LIST allowed_dlls AND NOT dll_lower MATCHES "^api-ms-win-[a-z0-9-]+\\.dll$")
    fail("imports ${dll}, which is not a Windows system DLL")
  endif()
endforeach()

# --- Resource directory ---------------------------------------------------
# objdump prints the tree as offset, indentation and entry; the indentation
# tells the level: type, name, language, then the leaf with the data's RVA.
string(REGEX MATCH "\nImageBase[ \t]+([0-9a-fA-F]+)" _ "${dump}")
set(image_base "${CMAKE_MATCH_1}")
string(REGEX MATCH "\n +[0-9]+ \\.rsrc +[0-9a-f]+ +([0-9a-f]+) +[0-9a-f]+ +([0-9a-f]+)" _ "${dump}")
set(rsrc_vma "${CMAKE_MATCH_1}")
set(rsrc_file_offset "${CMAKE_MATCH_2}")
if(image_base STREQUAL "" OR rsrc_vma STREQUAL "")
  message(FATAL_ERROR "no .rsrc section\n${failures}")
endif()
math(EXPR rsrc_delta "0x${rsrc_file_offset} - (0x${rsrc_vma} - 0x${image_base})")

string(FIND "${dump}" "The .rsrc Resource Directory section:" rsrc_start)
string(SUBSTRING "${dump}" ${rsrc_start} -1 rsrc_dump)
string(REGEX MATCHALL "\n[0-9a-f]+ +(Entry|Leaf)[^\n]*" rsrc_lines "${rsrc_dump}")

set(type "")
set(name "")
set(language "")
set(resources "")  # items "type/name/language/file offset/size"
foreach(line IN LISTS rsrc_lines)
  string(REGEX MATCH "^\n[0-9a-f]+( +)(Entry|Leaf): (.*)$" _ "${line}")
  string(LENGTH "${CMAKE_MATCH_1}" depth)
  set(kind "${CMAKE_MATCH_2}")
  set(rest "${CMAKE_MATCH_3}")
  if(kind STREQUAL "Entry")
    if(rest MATCHES "^ID: (0x)?([0-9a-fA-F]+),")
      math(EXPR id "0x${CMAKE_MATCH_2}")
    else()
      string(REGEX REPLACE ",.*" "" id "${rest}")
      string(MAKE_C_IDENTIFIER "${id}" id)
    endif()
    if(depth EQUAL 3)
      set(type "${id}")
    elseif(depth EQUAL 5)
      set(name "${id}")
    elseif(depth EQUAL 7)
      set(language "${id}")
    endif()
  elseif(rest MATCHES "^Addr: 0x([0-9a-fA-F]+), Size: 0x([0-9a-fA-F]+)")
    math(EXPR offset "0x${CMAKE_MATCH_1} + ${rsrc_delta}")
    math(EXPR size "0x${CMAKE_MATCH_2}")
    list(APPEND resources "${type}/${name}/${language}/${offset}/${size}")
  endif()
endforeach()

# The resources of one type, as "name/language/file offset/size" items.
function(resources_of type_id out)
  set(found "")
  foreach(item IN LISTS resources)
    if(item MATCHES "^${type_id}/(.*)$")
      list(APPEND found "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Lower-case hex of a text as UTF-16LE, for searching the hex of a resource.
function(utf16_hex text out)
  string(HEX "${text}" narrow)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\100" wide "${narrow}")
  set(${out} "${wide}" PARENT_SCOPE)
endfunction()

# Whether hex holds needle at a whole byte, not straddling two.
function(hex_contains hex needle out)
  set(result FALSE)
  set(from 0)
  while(TRUE)
    string(SUBSTRING "${hex}" ${from} -1 tail)
    string(FIND "${tail}" "${needle}" at)
    if(at EQUAL -1)
      break()
    endif()
    math(EXPR at "${from} + ${at}")
    math(EXPR odd "${at} % 2")
    if(odd EQUAL 0)
      set(result TRUE)
      break()
    endif()
    math(EXPR from "${at} + 1")
  endwhile()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Icons: group 1 and the nine images it names (RT_GROUP_ICON 14, RT_ICON 3).
resources_of(14 groups)
list(LENGTH groups group_count)
if(NOT group_count EQUAL 1 OR NOT groups MATCHES "^1/")
  list(JOIN groups ", " listed)
  fail("expected exactly one icon group, ID 1, found ${group_count}: ${listed}")
else()
  string(REPLACE "/" ";" group "${groups}")
  list(GET group 2 group_offset)
  file(READ "${EXECUTABLE}" group_hex OFFSET ${group_offset} LIMIT 6 HEX)
  if(NOT group_hex STREQUAL "000001000900")
    fail("icon group 1 does not announce nine icons (header ${group_hex})")
  endif()
endif()
resources_of(3 icons)
list(LENGTH icons icon_count)
if(NOT icon_count EQUAL 9)
  fail("expected nine icon images, found ${icon_count}")
endif()

# A 32-bit value as the hex of its four bytes, least significant first.
function(le32_hex value out)
  set(hex "")
  foreach(shift 0 8 16 24)
    math(EXPR byte "(${value} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" byte "${byte}")
    string(LENGTH "${byte}" length)
    if(length EQUAL 1)
      set(byte "0${byte}")
    endif()
    string(APPEND hex "${byte}")
  endforeach()
  string(TOLOWER "${hex}" hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# Version block (RT_VERSION 16): both version texts and the description, and
# the version with a fourth part 0 in the fixed part that Explorer's Details
# tab shows.
resources_of(16 versions)
list(LENGTH versions version_count)
if(NOT version_count EQUAL 1)
  fail("expected one version resource, found ${version_count}")
else()
  string(REPLACE "/" ";" version "${versions}")
  list(GET version 2 version_offset)
  list(GET version 3 version_size)
  file(READ "${EXECUTABLE}" version_hex OFFSET ${version_offset} LIMIT ${version_size} HEX)
  foreach(pair "FileVersion=${VERSION}" "ProductVersion=${VERSION}" "FileDescription=Quillwave launcher"
               "ProductName=Quillwave" "OriginalFilename=quillwave-launcher.exe")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 value)
    # A value follows its key after the key's terminator and padding to 32 bits.
    utf16_hex("${key}" key_hex)
    utf16_hex("${value}" value_hex)
    string(REGEX MATCH "${key_hex}0000(0000)?${value_hex}0000" pair_found "${version_hex}")
    if(pair_found STREQUAL "")
      fail("version resource lacks ${key} \"${value}\"")
    endif()
  endforeach()
  # VS_FIXEDFILEINFO: signature, structure version, then file and product
  # versions as most and least significant halves (major.minor and patch.0).
  math(EXPR most "(${version_major} << 16) | ${version_minor}")
  math(EXPR least "${version_patch} << 16")
  le32_hex(${most} most_hex)
  le32_hex(${least} least_hex)
  hex_contains("${version_hex}" "bd04effe00000100${most_hex}${least_hex}${most_hex}${least_hex}" fixed_found)
  if(NOT fixed_found)
    fail("fixed version information is not ${VERSION}.0")
  endif()
endif()

# Manifest (RT_MANIFEST 24): exactly one, ID 1, asInvoker, per-monitor DPI aware.
resources_of(24 manifests)
list(LENGTH manifests manifest_count)
if(NOT manifest_count EQUAL 1 OR NOT manifests MATCHES "^1/")
  list(JOIN manifests ", " listed)
  fail("expected exactly one manifest, ID 1, found ${manifest_count} (name/language/offset/size): ${listed}")
else()
  string(REPLACE "/" ";" manifest "${manifests}")
  list(GET manifest 2 manifest_offset)
  list(GET manifest 3 manifest_size)
  file(READ "${EXECUTABLE}" manifest_text OFFSET ${manifest_offset} LIMIT ${manifest_size})
  if(NOT manifest_text MATCHES "<requestedExecutionLevel[^>]*level=\"asInvoker\"")
    fail("manifest does not request asInvoker")
  endif()
  if(NOT manifest_text MATCHES "<requestedExecutionLevel[^>]*uiAccess=\"false\"")
    fail("manifest does not set uiAccess to false")
  endif()
  if(NOT manifest_text MATCHES "<dpiAwareness[^>]*>PerMonitorV2, PerMonitor</dpiAwareness>")
    fail("manifest does not declare per-monitor v2 DPI awareness")
  endif()
  if(NOT manifest_text MATCHES "<dpiAware[^>]*>true/pm</dpiAware>")
    fail("manifest does not declare per-monitor DPI awareness for older systems")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${EXECUTABLE}:\n  ${text}")
endif()
list(JOIN imported ", " imported)
message(STATUS "PE32+ GUI, imports ${imported}; version ${VERSION}, icon group 1, asInvoker per-monitor-dpi manifest")
