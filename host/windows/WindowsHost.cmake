# The host as X-Plane's Windows libraries: XPLM_64.dll exports the SDK
# functions and the control API the tests drive it with, and XPWidgets_64.dll
# forwards each widget function to it. A plug-in links against import
# libraries that hold the SDK's functions alone (each from the DLL it comes
# from in X-Plane), so it cannot import anything else from the host.
set_target_properties(xphost PROPERTIES OUTPUT_NAME XPLM_64 PREFIX "")
# The runtime linked in stays private: a second copy of winpthread exported
# from here would clash with the one every program links.
target_link_options(xphost PRIVATE -Wl,--export-all-symbols
  -Wl,--exclude-libs,libstdc++.a:libgcc.a:libgcc_eh.a:libpthread.a:libwinpthread.a:libmingwex.a:libmsvcrt.a)

# The SDK's functions are those its headers declare with XPLM_API or WIDGET_API.
function(sdk_function_names out_var marker)
  set(names)
  foreach(header ${ARGN})
    file(READ ${header} text)
    string(REGEX MATCHALL "${marker}[^;(]* (XP[A-Za-z0-9_]+)\\(" declarations "${text}")
    foreach(declaration ${declarations})
      string(REGEX REPLACE ".* (XP[A-Za-z0-9_]+)\\($" "\\1" name "${declaration}")
      list(APPEND names ${name})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()

file(GLOB xplm_headers ${CMAKE_CURRENT_SOURCE_DIR}/include/sdk/XPLM*.h)
sdk_function_names(xplm_names XPLM_API ${xplm_headers})
sdk_function_names(widget_names WIDGET_API
  ${CMAKE_CURRENT_SOURCE_DIR}/include/sdk/XPWidgets.h ${CMAKE_CURRENT_SOURCE_DIR}/include/sdk/XPStandardWidgets.h)

# <dll>.def (plain exports, for the import library) and the forwarders.
function(write_def path dll names forward_to)
  set(text "LIBRARY ${dll}\nEXPORTS\n")
  foreach(name ${names})
    if(forward_to)
      string(APPEND text "  ${name} = ${forward_to}.${name}\n")
    else()
      string(APPEND text "  ${name}\n")
    endif()
  endforeach()
  file(WRITE ${path} "${text}")
endfunction()
set(sdk_dir ${CMAKE_CURRENT_BINARY_DIR}/sdk-import)
write_def(${sdk_dir}/XPLM_64.def XPLM_64.dll "${xplm_names}" "")
write_def(${sdk_dir}/XPWidgets_64.def XPWidgets_64.dll "${widget_names}" "")
write_def(${CMAKE_CURRENT_BINARY_DIR}/XPWidgetsForward.def XPWidgets_64.dll "${widget_names}" XPLM_64)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/XPWidgetsForward.c "/* Forwarders only; see XPWidgetsForward.def. */\n")

add_library(XPWidgets_64 SHARED ${CMAKE_CURRENT_BINARY_DIR}/XPWidgetsForward.c
  ${CMAKE_CURRENT_BINARY_DIR}/XPWidgetsForward.def)
set_target_properties(XPWidgets_64 PROPERTIES PREFIX "")
target_link_libraries(XPWidgets_64 PRIVATE xphost)

find_program(TRALIX_DLLTOOL NAMES ${TRALIX_MINGW_PREFIX}-dlltool dlltool REQUIRED)
set(XPLANE_IMPORT_LIBRARIES ${sdk_dir}/libXPWidgets_64.a ${sdk_dir}/libXPLM_64.a CACHE INTERNAL "")
add_custom_command(OUTPUT ${XPLANE_IMPORT_LIBRARIES}
  COMMAND ${TRALIX_DLLTOOL} -d XPWidgets_64.def -l libXPWidgets_64.a -D XPWidgets_64.dll
  COMMAND ${TRALIX_DLLTOOL} -d XPLM_64.def -l libXPLM_64.a -D XPLM_64.dll
  WORKING_DIRECTORY ${sdk_dir}
  DEPENDS ${sdk_dir}/XPLM_64.def ${sdk_dir}/XPWidgets_64.def)
add_custom_target(xplane_import_libraries DEPENDS ${XPLANE_IMPORT_LIBRARIES})
