# The built-in mirror entry: the URL of the online configuration, enciphered
# by our host tool into a generated header that core/fixed_texts.h includes.
# Point it elsewhere with -DKAVETTA_MIRROR_URL=...; the default serves a local
# demo (a configuration file served on 127.0.0.1:18080).
set(KAVETTA_MIRROR_URL "http://127.0.0.1:18080/kavetta.ini" CACHE STRING
    "URL of the online configuration named by the built-in mirror entry")
set(KAVETTA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${KAVETTA_GENERATED_DIR}/core)
set(_tool ${CMAKE_SOURCE_DIR}/core/gen/make_mirror_entry.py)
execute_process(
  COMMAND python3 ${_tool} --fixed-texts ${CMAKE_SOURCE_DIR}/core/fixed_texts.h --url ${KAVETTA_MIRROR_URL}
          --out ${KAVETTA_GENERATED_DIR}/core/builtin_mirror.h
  RESULT_VARIABLE _rc)
if(_rc)
  message(FATAL_ERROR "could not make the built-in mirror entry (${_rc})")
endif()
# A change of the tool or of the passphrase makes the entry again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_tool} ${CMAKE_SOURCE_DIR}/core/fixed_texts.h)
include_directories(${KAVETTA_GENERATED_DIR})
