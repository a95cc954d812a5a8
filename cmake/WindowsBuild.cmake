# The Windows build (cross-built with cmake/mingw-w64.cmake): the plug-in as
# Tralix/win_x64/Tralix.xpl, the headless host as XPLM_64.dll and
# XPWidgets_64.dll, and the tests that prove the Windows code under Wine.
# Programs and DLLs share one folder, so each test finds the host's DLLs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_subdirectory(host)
add_subdirectory(platform/corefoundation)

add_xplane_plugin(Tralix SOURCES ${TRALIX_PLUGIN_SOURCES} LINK cf_standin)
if(NOT XPLANE_SDK_DIR)
  target_include_directories(Tralix PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/host/include/sdk)
endif()

# The same sources as a static library, for tests that call module functions.
add_library(tralix_plugin_code STATIC ${TRALIX_PLUGIN_SOURCES})
xplane_platform_definitions(tralix_plugin_code PUBLIC)
target_include_directories(tralix_plugin_code PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR}/host/include/sdk)
target_link_libraries(tralix_plugin_code PUBLIC cf_standin)
tralix_warnings(tralix_plugin_code)
tralix_plugin_definitions(tralix_plugin_code)

add_subdirectory(tools/flight-profile)
add_subdirectory(tools/wine)
enable_testing()
add_subdirectory(tests/windows)
