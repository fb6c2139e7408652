# The cross-built libraries that scripts/build-deps.sh installs into
# KAVETTA_DEPS_PREFIX, as imported targets. zlib comes from Debian's
# libz-mingw-w64-dev (in the toolchain's own root).
set(_deps ${KAVETTA_DEPS_PREFIX})
if(NOT EXISTS ${_deps}/lib/libcurl.a)
  message(WARNING "The cross-built libraries are missing from ${_deps}: run scripts/setup.sh")
endif()

find_library(KAVETTA_ZLIB NAMES libz.a z REQUIRED)
add_library(kavetta_zlib INTERFACE)
target_link_libraries(kavetta_zlib INTERFACE ${KAVETTA_ZLIB})

add_library(kavetta_openssl INTERFACE)
target_include_directories(kavetta_openssl INTERFACE ${_deps}/include)
target_link_libraries(kavetta_openssl INTERFACE ${_deps}/lib/libssl.a ${_deps}/lib/libcrypto.a
                      ws2_32 crypt32 bcrypt advapi32 user32)

add_library(kavetta_curl INTERFACE)
target_include_directories(kavetta_curl INTERFACE ${_deps}/include)
target_compile_definitions(kavetta_curl INTERFACE CURL_STATICLIB)
target_link_libraries(kavetta_curl INTERFACE ${_deps}/lib/libcurl.a kavetta_openssl kavetta_zlib)

add_library(kavetta_jsoncpp INTERFACE)
target_include_directories(kavetta_jsoncpp INTERFACE ${_deps}/include)
target_link_libraries(kavetta_jsoncpp INTERFACE ${_deps}/lib/libjsoncpp.a)

add_library(kavetta_minizip INTERFACE)
target_include_directories(kavetta_minizip INTERFACE ${_deps}/include)
target_link_libraries(kavetta_minizip INTERFACE ${_deps}/lib/libminizip.a kavetta_zlib)

# The 7-Zip format library, carried as a payload and loaded at run time.
set(KAVETTA_7Z_DLL ${_deps}/bin/7z.dll)
