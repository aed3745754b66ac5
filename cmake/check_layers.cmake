# Fails when a source includes a header from a layer above its own, or when
# code outside the platform layer and the window backends asks which system
# it is built for.
#   cmake -DSOURCE_DIR=<repo> -DRULES="layer:used,used|layer:..." -P check_layers.cmake

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" rules "${RULES}")
set(failures "")
foreach(rule ${rules})
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 layer)
  set(allowed "${layer}")
  list(LENGTH parts count)
  if(count GREATER 1)
    list(GET parts 1 uses)
    string(REPLACE "," ";" uses "${uses}")
    list(APPEND allowed ${uses})
  endif()

  file(GLOB_RECURSE sources "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(source ${sources})
    file(RELATIVE_PATH relative "${SOURCE_DIR}" "${source}")
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" target "${line}")
      list(FIND allowed "${target}" found)
      if(found EQUAL -1)
        list(APPEND failures "${relative}: ${layer} may not include ${target}/ (${line})")
      endif()
    endforeach()

    # Only the platform layer and the window backends know the system.
    if(NOT relative MATCHES "^(platform|ui/win32|ui/gtk)/")
      file(STRINGS "${source}" conditionals
        REGEX "^[ \t]*#[ \t]*(if|ifdef|ifndef|elif)[ \t].*(_WIN32|_WIN64|WIN32|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW)")
      foreach(line ${conditionals})
        list(APPEND failures "${relative}: OS conditional outside the platform layer (${line})")
      endforeach()
    endif()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "layering broken:\n  ${text}")
endif()
