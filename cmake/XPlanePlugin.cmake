# add_xplane_plugin(<name> SOURCES <files...> [LINK <libs...>])
#
# Builds an X-Plane plug-in as <build>/<name>/<abi>/<name>.xpl for the platform
# being configured: sets the SDK platform and API-level macros on the target,
# hides every symbol and exports only the five plug-in entry points.
#
# macOS: the real SDK frameworks from XPLANE_SDK_DIR, a universal x86_64 + arm64
# bundle for CMAKE_OSX_DEPLOYMENT_TARGET (set in CMakeLists.txt). Windows: the
# SDK's import libraries from XPLANE_SDK_DIR when given, else those of the
# headless host's XPLM_64.dll and XPWidgets_64.dll. Linux and others: the SDK symbols stay undefined and are resolved from the simulator
# process when it loads the plug-in.

set(XPLANE_SDK_DIR "" CACHE PATH "Root of the X-Plane SDK (the folder holding CHeaders/ and Libraries/); required on macOS")

# The plug-in is compiled against the 2.1 API level: its window record is the
# 72-byte XPLMCreateWindow_t of that level.
set(XPLANE_API_MACROS XPLM200=1 XPLM210=1)

function(xplane_platform_definitions target scope)
  if(APPLE)
    target_compile_definitions(${target} ${scope} APL=1 IBM=0 LIN=0 ${XPLANE_API_MACROS})
  elseif(WIN32)
    target_compile_definitions(${target} ${scope} APL=0 IBM=1 LIN=0 ${XPLANE_API_MACROS})
  else()
    target_compile_definitions(${target} ${scope} APL=0 IBM=0 LIN=1 ${XPLANE_API_MACROS})
  endif()
endfunction()

function(add_xplane_plugin name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;LINK")
  add_library(${name} MODULE ${ARG_SOURCES})
  xplane_platform_definitions(${name} PRIVATE)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".xpl"
    OUTPUT_NAME ${name}
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${name} PRIVATE ${ARG_LINK})

  set(exports_dir "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")
  if(APPLE)
    if(NOT EXISTS "${XPLANE_SDK_DIR}/CHeaders/XPLM/XPLMDefs.h" OR NOT EXISTS "${XPLANE_SDK_DIR}/Libraries/Mac/XPLM.framework")
      message(FATAL_ERROR "XPLANE_SDK_DIR='${XPLANE_SDK_DIR}' is not an X-Plane SDK (no CHeaders/XPLM/XPLMDefs.h "
        "or Libraries/Mac/XPLM.framework): set -DXPLANE_SDK_DIR=/path/to/SDK to build the macOS plug-in")
    endif()
    set(abi mac_x64)
    target_include_directories(${name} PRIVATE
      "${XPLANE_SDK_DIR}/CHeaders/XPLM" "${XPLANE_SDK_DIR}/CHeaders/Widgets")
    set_target_properties(${name} PROPERTIES
      OSX_ARCHITECTURES "x86_64;arm64"
      BUNDLE OFF)
    target_link_options(${name} PRIVATE
      "-F${XPLANE_SDK_DIR}/Libraries/Mac"
      "-Wl,-exported_symbols_list,${exports_dir}/plugin-exports.txt")
    set_property(TARGET ${name} APPEND PROPERTY
      LINK_DEPENDS "${exports_dir}/plugin-exports.txt")
    target_link_libraries(${name} PRIVATE
      "-framework XPLM" "-framework XPWidgets"
      "-framework CoreFoundation" "-framework CFNetwork"
      "-framework AppKit" "-framework OpenGL" objc)
  elseif(WIN32)
    set(abi win_x64)
    # Exports are the entry points' dllexport alone, never an automatic all.
    target_link_options(${name} PRIVATE -Wl,--exclude-all-symbols)
    if(XPLANE_SDK_DIR)
      set(sdk_libraries "${XPLANE_SDK_DIR}/Libraries/Win")
      if(NOT EXISTS "${XPLANE_SDK_DIR}/CHeaders/XPLM/XPLMDefs.h" OR NOT EXISTS "${sdk_libraries}/XPLM_64.lib")
        message(FATAL_ERROR "XPLANE_SDK_DIR='${XPLANE_SDK_DIR}' is not an X-Plane SDK (no CHeaders/XPLM/XPLMDefs.h "
          "or Libraries/Win/XPLM_64.lib)")
      endif()
      target_include_directories(${name} PRIVATE
        "${XPLANE_SDK_DIR}/CHeaders/XPLM" "${XPLANE_SDK_DIR}/CHeaders/Widgets")
      target_link_libraries(${name} PRIVATE "${sdk_libraries}/XPWidgets_64.lib" "${sdk_libraries}/XPLM_64.lib")
    else()
      # Import libraries of the headless host's DLLs, holding the SDK's
      # functions alone (host/windows/WindowsHost.cmake).
      target_link_libraries(${name} PRIVATE ${XPLANE_IMPORT_LIBRARIES})
      add_dependencies(${name} xplane_import_libraries XPWidgets_64 xphost)
    endif()
  else()
    set(abi lin_x64)
    # No -z defs: the XPLM/XPWidgets symbols come from the simulator at load.
    target_link_options(${name} PRIVATE
      "-Wl,--version-script=${exports_dir}/plugin-exports.map")
    set_property(TARGET ${name} APPEND PROPERTY
      LINK_DEPENDS "${exports_dir}/plugin-exports.map")
  endif()
  set_target_properties(${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${name}/${abi}")
endfunction()
