# cmake -DPLUGIN=<build>/Tralix/<abi>/Tralix.xpl -DREADME=README.md -DLICENSE=LICENSE
#       -DVERSION=<version> -DZIP=<output.zip> [-DMORE_PLUGINS=<path>|<path>...] -P package-zip.cmake
# MORE_PLUGINS: plug-ins for other systems, built in other trees
# (<tree>/Tralix/win_x64/Tralix.xpl), each packed beside PLUGIN in its own folder.
# Writes the release zip (see ReleasePackage.cmake) from a fresh staging folder,
# so nothing that sits beside the built plug-in (a Tralix.cfg left by a run) can
# get in. The zip appears complete or not at all.
string(REPLACE "|" ";" plugins "${PLUGIN}|${MORE_PLUGINS}")
list(REMOVE_ITEM plugins "")
foreach(input ${plugins} ${README} ${LICENSE})
  if(NOT EXISTS "${input}")
    message(FATAL_ERROR "package-zip: '${input}' does not exist")
  endif()
endforeach()

get_filename_component(abi_path "${PLUGIN}" DIRECTORY)
get_filename_component(folder_path "${abi_path}" DIRECTORY)
get_filename_component(folder "${folder_path}" NAME)

# The pilot's guide is the part of README.md between these two lines.
set(guide_begin "<!-- pilot's guide: begin -->\n")
set(guide_end "<!-- pilot's guide: end -->")
file(READ "${README}" readme)
string(FIND "${readme}" "${guide_begin}" begin)
string(FIND "${readme}" "${guide_end}" end)
if(begin EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "package-zip: ${README} has no pilot's guide between '${guide_begin}' and '${guide_end}'")
endif()
string(LENGTH "${guide_begin}" begin_length)
math(EXPR begin "${begin} + ${begin_length}")
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${readme}" ${begin} ${length} guide)

set(stage "${ZIP}.staging")
file(REMOVE_RECURSE "${stage}")
foreach(plugin ${plugins})
  get_filename_component(abi_path "${plugin}" DIRECTORY)
  get_filename_component(abi "${abi_path}" NAME)
  file(MAKE_DIRECTORY "${stage}/${folder}/${abi}")
  file(COPY "${plugin}" DESTINATION "${stage}/${folder}/${abi}")
endforeach()
file(WRITE "${stage}/${folder}/README.txt" "Tralix ${VERSION}\n\n${guide}")
file(COPY_FILE "${LICENSE}" "${stage}/${folder}/LICENSE.txt")

get_filename_component(zip_dir "${ZIP}" DIRECTORY)
file(MAKE_DIRECTORY "${zip_dir}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}.part" --format=zip "${folder}"
  WORKING_DIRECTORY "${stage}" RESULT_VARIABLE result)
file(REMOVE_RECURSE "${stage}")
if(NOT result EQUAL 0)
  file(REMOVE "${ZIP}.part")
  message(FATAL_ERROR "package-zip: could not write ${ZIP}")
endif()
file(RENAME "${ZIP}.part" "${ZIP}")
message(STATUS "Wrote ${ZIP}")
