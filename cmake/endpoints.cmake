# The deployment constants of the discovery endpoints and the primary's API
# key: their cache variables, the checks of their form, and the object library
# that carries them into the programs.
#
# Included by the top-level CMakeLists.txt; tests/build/endpoint_values_test.cmake
# includes it too, for quillwave_endpoint_value_error alone.

# Sets `out` to why `value` is no good for the cache variable `name`, or to
# the empty text when it is. The values end up in URLs, in curl's header and
# in texts, so each must have exactly its form.
function(quillwave_endpoint_value_error out name value)
  set(error "")
  if(name STREQUAL "QUILLWAVE_PRIMARY_IP")
    set(octet "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])")
    if(NOT value MATCHES "^${octet}\\.${octet}\\.${octet}\\.${octet}$")
      set(error "must be a dotted IPv4 address (four numbers from 0 to 255 without leading zeros)")
    endif()
  elseif(name STREQUAL "QUILLWAVE_PRIMARY_PORT")
    if(NOT value MATCHES "^[1-9][0-9]?[0-9]?[0-9]?[0-9]?$" OR value GREATER 65535)
      set(error "must be a port number from 1 to 65535")
    endif()
  elseif(name MATCHES "^QUILLWAVE_(PRIMARY|SECONDARY|TERTIARY)_HOST$")
    # Labels of letters, digits and inner hyphens, 1 to 63 bytes each, 253 in all.
    set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
    string(LENGTH "${value}" length)
    set(too_long_label FALSE)
    string(REPLACE "." ";" labels "${value}")
    foreach(part IN LISTS labels)
      string(LENGTH "${part}" part_length)
      if(part_length GREATER 63)
        set(too_long_label TRUE)
      endif()
    endforeach()
    if(NOT value MATCHES "^${label}(\\.${label})*$" OR length GREATER 253 OR too_long_label)
      set(error "must be a DNS host name (letters, digits and hyphens in dot-separated labels)")
    endif()
  elseif(name STREQUAL "QUILLWAVE_SECONDARY_LABEL")
    if(NOT value MATCHES "^[a-z][a-z][a-z][a-z]$")
      set(error "must be four lower-case letters")
    endif()
  elseif(name STREQUAL "QUILLWAVE_API_KEY")
    string(LENGTH "${value}" length)
    if(NOT value MATCHES "^[0-9a-f]+$" OR NOT length EQUAL 40)
      set(error "must be 40 lower-case hexadecimal digits")
    endif()
  else()
    set(error "is not an endpoint setting")
  endif()
  set(${out} "${error}" PARENT_SCOPE)
endfunction()

# The reserved documentation names and addresses the build uses until a
# deployment sets its own; they reach nobody.
set(QUILLWAVE_PLACEHOLDER_PRIMARY_IP "192.0.2.10")
set(QUILLWAVE_PLACEHOLDER_PRIMARY_HOST "geo.primary.example")
set(QUILLWAVE_PLACEHOLDER_SECONDARY_HOST "geoip.secondary.example")
set(QUILLWAVE_PLACEHOLDER_SECONDARY_LABEL "scnd")
set(QUILLWAVE_PLACEHOLDER_TERTIARY_HOST "myip.tertiary.example")
# Values anyone can read: the key a build has when none is set, and the key
# and address of the documentation's example. A release refuses them as it
# refuses the placeholders; "VARIABLE|value" each.
set(QUILLWAVE_DEFAULT_API_KEY "7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1e")
set(QUILLWAVE_PUBLISHED_VALUES "QUILLWAVE_API_KEY|${QUILLWAVE_DEFAULT_API_KEY}"
  "QUILLWAVE_API_KEY|3f6c0d2a9b8e7f6a5c4d3e2f1a0b9c8d7e6f5a4b" "QUILLWAVE_PRIMARY_IP|198.51.100.20")
set(QUILLWAVE_ENDPOINT_VARIABLES QUILLWAVE_PRIMARY_IP QUILLWAVE_PRIMARY_PORT QUILLWAVE_PRIMARY_HOST
  QUILLWAVE_SECONDARY_HOST QUILLWAVE_SECONDARY_LABEL QUILLWAVE_TERTIARY_HOST QUILLWAVE_API_KEY)

if(CMAKE_SCRIPT_MODE_FILE)
  return()  # only the check above is wanted
endif()

# Sets `out` to ON when any of the values is still its placeholder: such a
# build cannot reach its endpoints.
function(quillwave_endpoints_are_placeholders out primary_ip primary_host secondary_host secondary_label tertiary_host)
  set(placeholders OFF)
  foreach(setting PRIMARY_IP PRIMARY_HOST SECONDARY_HOST SECONDARY_LABEL TERTIARY_HOST)
    string(TOLOWER "${setting}" argument)
    if("${${argument}}" STREQUAL QUILLWAVE_PLACEHOLDER_${setting})
      set(placeholders ON)
    endif()
  endforeach()
  set(${out} ${placeholders} PARENT_SCOPE)
endfunction()

set(QUILLWAVE_PRIMARY_IP "${QUILLWAVE_PLACEHOLDER_PRIMARY_IP}" CACHE STRING
  "IPv4 address of the primary discovery endpoint")
set(QUILLWAVE_PRIMARY_PORT "65333" CACHE STRING "Port of the primary discovery endpoint")
set(QUILLWAVE_PRIMARY_HOST "${QUILLWAVE_PLACEHOLDER_PRIMARY_HOST}" CACHE STRING
  "Host name shown for the primary discovery endpoint")
set(QUILLWAVE_SECONDARY_HOST "${QUILLWAVE_PLACEHOLDER_SECONDARY_HOST}" CACHE STRING
  "Host name of the secondary discovery endpoint")
set(QUILLWAVE_SECONDARY_LABEL "${QUILLWAVE_PLACEHOLDER_SECONDARY_LABEL}" CACHE STRING
  "Four-letter lower-case label of the secondary provider")
set(QUILLWAVE_TERTIARY_HOST "${QUILLWAVE_PLACEHOLDER_TERTIARY_HOST}" CACHE STRING
  "Host name of the tertiary discovery endpoint")
set(QUILLWAVE_API_KEY "${QUILLWAVE_DEFAULT_API_KEY}" CACHE STRING
  "API key sent to the primary discovery endpoint (40 lower-case hexadecimal digits)")

foreach(variable IN LISTS QUILLWAVE_ENDPOINT_VARIABLES)
  quillwave_endpoint_value_error(error ${variable} "${${variable}}")
  if(error)
    message(FATAL_ERROR "${variable} ${error}, not '${${variable}}'")
  endif()
endforeach()

# A build that still names any placeholder cannot reach its endpoints; its
# packages say so in their names (cmake/packaging.cmake).
quillwave_endpoints_are_placeholders(QUILLWAVE_ENDPOINTS_ARE_PLACEHOLDERS "${QUILLWAVE_PRIMARY_IP}"
  "${QUILLWAVE_PRIMARY_HOST}" "${QUILLWAVE_SECONDARY_HOST}" "${QUILLWAVE_SECONDARY_LABEL}" "${QUILLWAVE_TERTIARY_HOST}")

# The constants live in one small object library so that tests can link a
# launcher whose endpoints are on loopback.
function(quillwave_add_endpoints name primary_ip primary_port primary_host secondary_host secondary_label tertiary_host
         api_key)
  # The persona tool tells whether a build can reach its endpoints at all.
  quillwave_endpoints_are_placeholders(placeholders "${primary_ip}" "${primary_host}" "${secondary_host}"
    "${secondary_label}" "${tertiary_host}")
  add_library(${name} OBJECT ${CMAKE_SOURCE_DIR}/discovery/endpoints.cpp)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    QUILLWAVE_PRIMARY_IP="${primary_ip}"
    QUILLWAVE_PRIMARY_PORT=${primary_port}
    QUILLWAVE_PRIMARY_HOST="${primary_host}"
    QUILLWAVE_SECONDARY_HOST="${secondary_host}"
    QUILLWAVE_SECONDARY_LABEL="${secondary_label}"
    QUILLWAVE_TERTIARY_HOST="${tertiary_host}"
    QUILLWAVE_API_KEY="${api_key}"
    QUILLWAVE_ENDPOINTS_ARE_PLACEHOLDERS=$<BOOL:${placeholders}>)
endfunction()
quillwave_add_endpoints(quillwave_endpoints "${QUILLWAVE_PRIMARY_IP}" "${QUILLWAVE_PRIMARY_PORT}"
  "${QUILLWAVE_PRIMARY_HOST}" "${QUILLWAVE_SECONDARY_HOST}" "${QUILLWAVE_SECONDARY_LABEL}"
  "${QUILLWAVE_TERTIARY_HOST}" "${QUILLWAVE_API_KEY}")
