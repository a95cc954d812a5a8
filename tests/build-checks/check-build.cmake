# cmake -DBUILD_DIR=<build tree> -DTARGET=<target> -DDEPRECATED=<names> -P check-build.cmake
# Builds TARGET, which must fail, each name reported as an error for being
# deprecated since macOS 10.11 with Apple's message, so a failure for any other
# reason does not pass.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${TARGET}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(ASCII 27 escape)
string(REGEX REPLACE "${escape}\\[[0-9;]*[mK]" "" output "${output}")

if(result EQUAL 0)
  message(FATAL_ERROR "${TARGET} built, but its uses of deprecated names should have failed it:\n${output}")
endif()
foreach(name IN LISTS DEPRECATED)
  if(NOT output MATCHES "error: [^\n]*${name}[^\n]* is deprecated: first deprecated in macOS 10\\.11 - Use NSURLSession API for http requests")
    message(FATAL_ERROR "no deprecation error for ${name} in:\n${output}")
  endif()
endforeach()
message(STATUS "${TARGET} failed as it should: each of ${DEPRECATED} is an error")
