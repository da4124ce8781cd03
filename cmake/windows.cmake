# The Windows side of the build (mingw-w64 cross build, see
# cmake/toolchain-mingw64.cmake and scripts/windows-build.sh).
#
# - OpenSSL: static libraries cross-built from Debian's source package
#   (scripts/windows-openssl.sh), given as TOLVANE_OPENSSL_PREFIX.
# - JSON for Modern C++: Debian's headers, copied into the build tree so that
#   no other header of the build machine is on the include path.
# - Every module links the compiler's runtime statically: the program and its
#   plug-in DLLs then share only msvcrt's heap, on which the std::string that
#   crosses the plug-in boundary is allocated and freed.
# - The program exports its own and the HTTP library's functions (nothing of
#   OpenSSL or the C++ runtime) and gets an import library, against which
#   plug-ins link.
set(TOLVANE_OPENSSL_PREFIX "" CACHE PATH "OpenSSL built for mingw64 (scripts/windows-openssl.sh)")
if(NOT TOLVANE_OPENSSL_PREFIX OR NOT EXISTS ${TOLVANE_OPENSSL_PREFIX}/lib/libcrypto.a)
  message(FATAL_ERROR "Set TOLVANE_OPENSSL_PREFIX to the output of scripts/windows-openssl.sh")
endif()
set(OPENSSL_ROOT_DIR ${TOLVANE_OPENSSL_PREFIX})
# The prefix changes with the package version: look the libraries up anew on
# every configure rather than keep paths to an older one.
foreach(var OPENSSL_INCLUDE_DIR LIB_EAY SSL_EAY OPENSSL_CRYPTO_LIBRARY OPENSSL_SSL_LIBRARY)
  unset(${var} CACHE)
endforeach()
set(OPENSSL_USE_STATIC_LIBS TRUE)
list(APPEND CMAKE_FIND_ROOT_PATH ${TOLVANE_OPENSSL_PREFIX})

set(TOLVANE_NLOHMANN_HEADERS /usr/include/nlohmann CACHE PATH "Debian's nlohmann-json3-dev headers")
file(COPY ${TOLVANE_NLOHMANN_HEADERS} DESTINATION ${CMAKE_BINARY_DIR}/_deps/nlohmann/include)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/_deps/nlohmann/include)

# Windows 7 API level for the HTTP library (inet_pton and friends).
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)

# The Windows build has no tests of its own beyond the wine run.
set(TOLVANE_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(TOLVANE_BUILD_BENCH OFF CACHE BOOL "" FORCE)

# POSIX calls of the bundled plug-ins, on the Windows runtime.
set(TOLVANE_WINDOWS_POSIX_DIR ${CMAKE_SOURCE_DIR}/cmake/windows-posix)
function(tolvane_windows_posix_sources target)
  target_include_directories(${target} PRIVATE ${TOLVANE_WINDOWS_POSIX_DIR})
  target_compile_options(${target} PRIVATE -include ${TOLVANE_WINDOWS_POSIX_DIR}/posixcompat.h)
endfunction()

# Libraries the program's Windows sources and the HTTP library call.
set(TOLVANE_WINDOWS_SYSTEM_LIBS ws2_32 crypt32 advapi32 user32 bcrypt)

# Export everything of the program's own objects (the HTTP library's
# functions, the wrapper classes, Logger::PrintLog), nothing of the static
# libraries: a plug-in links its own copy of the runtime, and the unwinder's
# functions in the import library would clash with it.
set(TOLVANE_WINDOWS_UNEXPORTED_LIBS libssl.a libcrypto.a libwinpthread.a libpthread.a libgcc.a
    libgcc_eh.a libstdc++.a libsupc++.a libmingwex.a libmingw32.a)
list(JOIN TOLVANE_WINDOWS_UNEXPORTED_LIBS ":" TOLVANE_WINDOWS_UNEXPORTED)
function(tolvane_windows_program target)
  target_link_options(${target} PRIVATE -Wl,--export-all-symbols
                      -Wl,--exclude-libs,${TOLVANE_WINDOWS_UNEXPORTED})
  target_link_libraries(${target} PRIVATE ${TOLVANE_WINDOWS_SYSTEM_LIBS})
endfunction()
