# DLLs that the program takes from Windows although they are not among
# Windows' known DLLs (the set the loader always takes from the system
# folder). An import of such a DLL would be looked for beside the program
# first, before any code of ours runs, and the program runs elevated from
# folders its users can write. So the program imports them delay-loaded:
# each is loaded on its first call, after start-up has restricted the DLL
# search to the system folder (core/dll_search.h).
#
#   kavetta_delay_load_system_dlls(kavetta)
#
# Each DLL's delay-import library is made from the toolchain's import
# library (its exported names) with dlltool, and found on the target's link
# path before the toolchain's own.
set(KAVETTA_DELAY_LOADED_DLLS version wininet crypt32 bcrypt gdiplus comctl32)
set(KAVETTA_DELAY_IMPORT_DIR ${CMAKE_BINARY_DIR}/delay-imports)

# GNU ld leaves out the call stub of a delay-import member that is reached
# only through its "__imp_" pointer (every call declared dllimport, as the
# Windows headers declare them), and that pointer then stays null. The
# linker script below names every stub, so that each is linked in.
set(KAVETTA_DELAY_THUNKS_SCRIPT ${KAVETTA_DELAY_IMPORT_DIR}/delay_thunks.ld)
set(_thunks "")
file(MAKE_DIRECTORY ${KAVETTA_DELAY_IMPORT_DIR})
find_program(KAVETTA_NM NAMES i686-w64-mingw32-nm REQUIRED)
find_program(KAVETTA_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
foreach(dll IN LISTS KAVETTA_DELAY_LOADED_DLLS)
  find_file(_import_${dll} lib${dll}.a PATHS ${CMAKE_FIND_ROOT_PATH}/lib NO_DEFAULT_PATH REQUIRED)
  set(_def ${KAVETTA_DELAY_IMPORT_DIR}/${dll}.def)
  set(_lib ${KAVETTA_DELAY_IMPORT_DIR}/lib${dll}.a)
  if(NOT EXISTS ${_lib} OR ${_import_${dll}} IS_NEWER_THAN ${_lib})
    execute_process(COMMAND ${KAVETTA_NM} ${_import_${dll}} OUTPUT_VARIABLE _symbols RESULT_VARIABLE _rc)
    if(_rc)
      message(FATAL_ERROR "could not read the exports of ${_import_${dll}}")
    endif()
    # Every "__imp__Name@N" of the import library is one export, "Name@N"
    # (dlltool -k drops the "@N" from the name the DLL exports).
    string(REGEX MATCHALL "__imp__[A-Za-z0-9_@?$]+" _imports "${_symbols}")
    list(REMOVE_DUPLICATES _imports)
    string(REPLACE "__imp__" "" _exports "${_imports}")
    string(REPLACE ";" "\n" _exports "${_exports}")
    file(WRITE ${_def} "LIBRARY ${dll}.dll\nEXPORTS\n${_exports}\n")
    execute_process(COMMAND ${KAVETTA_DLLTOOL} -k -d ${_def} -y ${_lib} RESULT_VARIABLE _rc)
    if(_rc)
      message(FATAL_ERROR "could not make the delay-import library of ${dll}.dll")
    endif()
    # Members that are no import stubs (the toolchain's GDI+ library also
    # carries GUIDs and helper functions) go along as they are.
    execute_process(COMMAND ${CMAKE_AR} t ${_import_${dll}} OUTPUT_VARIABLE _members)
    string(REPLACE "\n" ";" _members "${_members}")
    set(_extract ${KAVETTA_DELAY_IMPORT_DIR}/${dll}-members)
    file(MAKE_DIRECTORY ${_extract})
    foreach(_member IN LISTS _members)
      if(_member STREQUAL "" OR _member MATCHES "^lib${dll}(s[0-9]+|h|t)\\.o$")
        continue()
      endif()
      execute_process(COMMAND ${CMAKE_AR} x ${_import_${dll}} ${_member} WORKING_DIRECTORY ${_extract})
      execute_process(COMMAND ${CMAKE_AR} r ${_lib} ${_extract}/${_member} RESULT_VARIABLE _rc)
      if(_rc)
        message(FATAL_ERROR "could not add ${_member} to the delay-import library of ${dll}.dll")
      endif()
    endforeach()
  endif()
  file(STRINGS ${_def} _entries REGEX "@|^[A-Za-z_]")
  foreach(_entry IN LISTS _entries)
    if(NOT _entry MATCHES "^(LIBRARY|EXPORTS)")
      string(APPEND _thunks "  \"_${_entry}\"\n")
    endif()
  endforeach()
endforeach()
file(WRITE ${KAVETTA_DELAY_THUNKS_SCRIPT}.new "EXTERN(\n${_thunks})\n")
file(COPY_FILE ${KAVETTA_DELAY_THUNKS_SCRIPT}.new ${KAVETTA_DELAY_THUNKS_SCRIPT} ONLY_IF_DIFFERENT)

# The script must come before the libraries on the link line: the linker
# options do.
function(kavetta_delay_load_system_dlls target)
  target_link_directories(${target} BEFORE PRIVATE ${KAVETTA_DELAY_IMPORT_DIR})
  target_link_options(${target} PRIVATE ${KAVETTA_DELAY_THUNKS_SCRIPT})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${KAVETTA_DELAY_THUNKS_SCRIPT})
endfunction()
