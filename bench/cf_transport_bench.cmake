# The transport benchmark also needs the service stand-in and the sandbox.
if(TARGET cf_transport_bench AND TARGET dev_service)
  target_link_libraries(cf_transport_bench PRIVATE cf_standin dev_service)
  target_compile_definitions(cf_transport_bench PRIVATE
    TRALIX_SANDBOX_SCRIPT="${PROJECT_SOURCE_DIR}/tools/sandbox/tralix-sandbox"
    TRALIX_SANDBOX_CERT_DIR="${CMAKE_BINARY_DIR}/sandbox-certs")
endif()
