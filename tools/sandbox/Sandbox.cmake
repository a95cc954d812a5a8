# Runs tests inside tools/sandbox/tralix-sandbox: api.tralix.net (and any HOSTS)
# resolve to 127.0.0.1 and the system CA bundle trusts the build's test CA,
# whose files the test finds through $TRALIX_SANDBOX_CERT, _KEY and _CA.
#
#   tralix_add_sandboxed_test(NAME <name> COMMAND <command> [args...]
#                             [HOSTS <name>...] [WORKING_DIRECTORY <dir>]
#                             [PROPERTIES <test properties>...])
#     One test: the command runs inside a fresh sandbox.
#
#   tralix_sandboxed_gtest_discover_tests(<target> [HOSTS <name>...]
#                                         [<gtest_discover_tests options>...])
#     Every test of a GoogleTest executable, each in its own process and
#     sandbox (so each may serve on 127.0.0.1:443).
#
# The test CA and certificate are made once per build tree, in
# ${TRALIX_SANDBOX_CERT_DIR}; a host name given here is in the certificate only
# if it was known when that folder was first filled (the certificate always
# covers api.tralix.net, localhost, 127.0.0.1 and *.tralix.test).

set(TRALIX_SANDBOX_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/tralix-sandbox" CACHE INTERNAL "")
set(TRALIX_SANDBOX_CERT_DIR "${CMAKE_BINARY_DIR}/sandbox-certs" CACHE INTERNAL "")

function(tralix_sandbox_launcher out_var)
  set(launcher "${TRALIX_SANDBOX_SCRIPT}" --cert-dir "${TRALIX_SANDBOX_CERT_DIR}")
  foreach(host ${ARGN})
    list(APPEND launcher --host "${host}")
  endforeach()
  list(APPEND launcher --)
  set(${out_var} "${launcher}" PARENT_SCOPE)
endfunction()

function(tralix_add_sandboxed_test)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "NAME;WORKING_DIRECTORY" "COMMAND;HOSTS;PROPERTIES")
  if(NOT ARG_NAME OR NOT ARG_COMMAND)
    message(FATAL_ERROR "tralix_add_sandboxed_test needs NAME and COMMAND")
  endif()
  tralix_sandbox_launcher(launcher ${ARG_HOSTS})
  set(directory_option)
  if(ARG_WORKING_DIRECTORY)
    set(directory_option WORKING_DIRECTORY "${ARG_WORKING_DIRECTORY}")
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${launcher} ${ARG_COMMAND} ${directory_option})
  if(ARG_PROPERTIES)
    set_tests_properties(${ARG_NAME} PROPERTIES ${ARG_PROPERTIES})
  endif()
endfunction()

function(tralix_sandboxed_gtest_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "HOSTS")
  tralix_sandbox_launcher(launcher ${ARG_HOSTS})
  # GoogleTest runs discovery and every test through the launcher: through
  # CROSSCOMPILING_EMULATOR up to CMake 3.28, TEST_LAUNCHER from 3.29 on.
  if(CMAKE_VERSION VERSION_LESS 3.29)
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "${launcher}")
  else()
    set_target_properties(${target} PROPERTIES TEST_LAUNCHER "${launcher}")
  endif()
  include(GoogleTest)
  gtest_discover_tests(${target} ${ARG_UNPARSED_ARGUMENTS})
endfunction()
