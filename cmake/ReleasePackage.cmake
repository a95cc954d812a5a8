# The release: Tralix-<version>-<platform>.zip in X-Plane's plug-in layout,
#   Tralix/<abi>/Tralix.xpl   the plug-in as built (mac_x64, lin_x64 or win_x64)
#   Tralix/README.txt         the pilot's guide, README.md's first section
#   Tralix/LICENSE.txt
# and never a Tralix.cfg, so unzipping an update over an installed copy keeps
# the pilot's key and token. Target release_zip (`make package`) writes it to
# TRALIX_DIST_DIR. With TRALIX_PACKAGE_MORE_PLUGINS (plug-ins built for other
# systems in other trees, '|'-separated) it is Tralix-<version>.zip with all of
# them, one folder per system.

set(TRALIX_DIST_DIR "${PROJECT_SOURCE_DIR}/dist" CACHE PATH "Folder the release zip is written to")
if(APPLE)
  set(TRALIX_PACKAGE_PLATFORM macos)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" TRALIX_PACKAGE_PLATFORM)
endif()
set(TRALIX_PACKAGE_NAME "Tralix-${PROJECT_VERSION}-${TRALIX_PACKAGE_PLATFORM}.zip")
set(TRALIX_PACKAGE_MORE_PLUGINS "" CACHE STRING "Plug-ins built for other systems to pack beside this one ('|'-separated)")

# Sets out_var to the command that writes the package of the built plug-in
# (and of the plug-ins given after zip, '|'-separated) to zip.
function(tralix_package_command out_var zip)
  set(${out_var} ${CMAKE_COMMAND}
    -DPLUGIN=$<TARGET_FILE:Tralix>
    "-DMORE_PLUGINS=${ARGN}"
    -DREADME=${PROJECT_SOURCE_DIR}/README.md
    -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DVERSION=${PROJECT_VERSION}
    -DZIP=${zip}
    -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/package-zip.cmake
    PARENT_SCOPE)
endfunction()

if(TRALIX_PACKAGE_MORE_PLUGINS)
  tralix_package_command(release_command "${TRALIX_DIST_DIR}/Tralix-${PROJECT_VERSION}.zip" "${TRALIX_PACKAGE_MORE_PLUGINS}")
else()
  tralix_package_command(release_command "${TRALIX_DIST_DIR}/${TRALIX_PACKAGE_NAME}")
endif()
add_custom_target(release_zip COMMAND ${release_command} DEPENDS Tralix VERBATIM)
