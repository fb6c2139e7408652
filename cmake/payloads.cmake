# What the tools payload (the 7z archive unpacked into the work folder at
# start) carries. Any folder's CMakeLists adds to it:
#
#   kavetta_add_to_tools_payload(TARGETS kvtengine)            # a built DLL or program
#   kavetta_add_to_tools_payload(FILES boot/grldr FOLDER boot)  # plain files, into a subfolder
#
# The items collect in the global property KAVETTA_TOOLS_PAYLOAD_ITEMS (each
# "path|folder") and their targets and files in KAVETTA_TOOLS_PAYLOAD_DEPENDS;
# resources/CMakeLists.txt, which runs after every other source folder,
# packs them.
# Programs and DLLs that ship are stripped after their link (cmake/strip.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/strip.cmake)

function(kavetta_add_to_tools_payload)
  cmake_parse_arguments(P "" "FOLDER" "TARGETS;FILES" ${ARGN})
  foreach(t IN LISTS P_TARGETS)
    kavetta_strip_after_link(${t})
    set_property(GLOBAL APPEND PROPERTY KAVETTA_TOOLS_PAYLOAD_ITEMS "$<TARGET_FILE:${t}>|${P_FOLDER}")
    set_property(GLOBAL APPEND PROPERTY KAVETTA_TOOLS_PAYLOAD_DEPENDS ${t})
  endforeach()
  foreach(f IN LISTS P_FILES)
    get_filename_component(abs "${f}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set_property(GLOBAL APPEND PROPERTY KAVETTA_TOOLS_PAYLOAD_ITEMS "${abs}|${P_FOLDER}")
    set_property(GLOBAL APPEND PROPERTY KAVETTA_TOOLS_PAYLOAD_DEPENDS "${abs}")
  endforeach()
endfunction()
