# Rows of endpoint settings and whether the configure step takes them: each
# bad value must be refused, each good one taken.
#   cmake -P endpoint_values_test.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/endpoints.cmake)

set(good
  "QUILLWAVE_PRIMARY_IP|198.51.100.20" "QUILLWAVE_PRIMARY_IP|0.0.0.0" "QUILLWAVE_PRIMARY_IP|255.255.255.255"
  "QUILLWAVE_PRIMARY_PORT|65333" "QUILLWAVE_PRIMARY_PORT|1" "QUILLWAVE_PRIMARY_PORT|65535"
  "QUILLWAVE_PRIMARY_HOST|geo.example.net" "QUILLWAVE_SECONDARY_HOST|ip-api.example-1.org"
  "QUILLWAVE_TERTIARY_HOST|localhost" "QUILLWAVE_TERTIARY_HOST|A0.b-c.D"
  "QUILLWAVE_SECONDARY_LABEL|ipap"
  "QUILLWAVE_API_KEY|7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1e" "QUILLWAVE_API_KEY|0000000000000000000000000000000000000000")
set(bad
  "QUILLWAVE_PRIMARY_IP|" "QUILLWAVE_PRIMARY_IP|198.51.100" "QUILLWAVE_PRIMARY_IP|198.51.100.256"
  "QUILLWAVE_PRIMARY_IP|198.51.100.020" "QUILLWAVE_PRIMARY_IP|geo.example.net" "QUILLWAVE_PRIMARY_IP|::1"
  "QUILLWAVE_PRIMARY_IP|198.51.100.20 " "QUILLWAVE_PRIMARY_IP|198.51.100.20\"x"
  "QUILLWAVE_PRIMARY_PORT|0" "QUILLWAVE_PRIMARY_PORT|65536" "QUILLWAVE_PRIMARY_PORT|080"
  "QUILLWAVE_PRIMARY_PORT|99999999999999999999"
  "QUILLWAVE_PRIMARY_HOST|" "QUILLWAVE_PRIMARY_HOST|geo.example.net." "QUILLWAVE_PRIMARY_HOST|-geo.example"
  "QUILLWAVE_PRIMARY_HOST|geo-.example" "QUILLWAVE_PRIMARY_HOST|geo..example" "QUILLWAVE_PRIMARY_HOST|geo_x.example"
  "QUILLWAVE_SECONDARY_HOST|localhost:9" "QUILLWAVE_SECONDARY_HOST|a b" "QUILLWAVE_TERTIARY_HOST|x/myip"
  "QUILLWAVE_TERTIARY_HOST|aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.example"
  "QUILLWAVE_SECONDARY_LABEL|scn" "QUILLWAVE_SECONDARY_LABEL|scnds" "QUILLWAVE_SECONDARY_LABEL|Scnd"
  "QUILLWAVE_SECONDARY_LABEL|sc1d"
  "QUILLWAVE_API_KEY|7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1" "QUILLWAVE_API_KEY|7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1e0"
  "QUILLWAVE_API_KEY|7C3E91F04AB25D68E0B7F1A9C4D2E8356B0A9F1E" "QUILLWAVE_API_KEY|7c3e91f04ab25d68e0b7f1a9c4d2e8356b0a9f1g")

set(failures 0)
foreach(row IN LISTS good bad)
  string(FIND "${row}" "|" bar)
  string(SUBSTRING "${row}" 0 ${bar} name)
  math(EXPR start "${bar} + 1")
  string(SUBSTRING "${row}" ${start} -1 value)
  quillwave_endpoint_value_error(error ${name} "${value}")
  list(FIND good "${row}" is_good)
  if(is_good GREATER -1 AND error)
    message(SEND_ERROR "${name}='${value}' was refused: ${error}")
    math(EXPR failures "${failures} + 1")
  elseif(is_good EQUAL -1 AND NOT error)
    message(SEND_ERROR "${name}='${value}' was taken")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
list(LENGTH good good_count)
list(LENGTH bad bad_count)
message(STATUS "endpoint values: ${good_count} taken, ${bad_count} refused, ${failures} wrong")
