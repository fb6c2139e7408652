# Fake download engines for the binding's tests, built beside core_tests.exe.
foreach(variant ok noinit initfails noquery imports)
  add_library(fake_engine_${variant} SHARED ${CMAKE_CURRENT_LIST_DIR}/fake_engine.cpp)
  set_target_properties(fake_engine_${variant} PROPERTIES PREFIX "")
  add_dependencies(core_tests fake_engine_${variant})
endforeach()
target_compile_definitions(fake_engine_noinit PRIVATE FAKE_NO_INITIALIZE)
target_compile_definitions(fake_engine_initfails PRIVATE FAKE_INITIALIZE_FAILS)
target_compile_definitions(fake_engine_noquery PRIVATE FAKE_NO_QUERY)
# One that imports a system DLL the test programs do not load, so that a
# test can plant a DLL of that name beside a program that binds it.
target_compile_definitions(fake_engine_imports PRIVATE FAKE_IMPORTS_SYSTEM_DLL)
target_link_libraries(fake_engine_imports PRIVATE msimg32)
