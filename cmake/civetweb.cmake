# CivetWeb 1.15 from Debian's source package, fetched into the build tree at
# configure time and compiled into the program with the OpenSSL 3 API linked
# directly (Debian's binary build loads libssl at run time and fails with
# OpenSSL 3). Our build-time patches live in civetweb/patches.
set(CIVETWEB_SOURCE_DIR ${CMAKE_BINARY_DIR}/_deps/civetweb CACHE PATH "Fetched civetweb source")
file(GLOB CIVETWEB_PATCHES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/civetweb/patches/*.patch)
execute_process(
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fetch-civetweb.sh ${CIVETWEB_SOURCE_DIR}
          ${CMAKE_SOURCE_DIR}/civetweb/patches
  RESULT_VARIABLE CIVETWEB_FETCH_RESULT)
if(NOT CIVETWEB_FETCH_RESULT EQUAL 0)
  message(FATAL_ERROR "Could not fetch the civetweb source package; run scripts/install-deps.sh")
endif()

set(CIVETWEB_INCLUDE_DIR ${CIVETWEB_SOURCE_DIR}/include)

add_library(civetweb_engine_objects OBJECT ${CIVETWEB_SOURCE_DIR}/src/civetweb.c)
target_include_directories(civetweb_engine_objects
  PUBLIC ${CIVETWEB_INCLUDE_DIR}
  PRIVATE ${CIVETWEB_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/civetweb/src ${CMAKE_SOURCE_DIR}/civetweb/include)
target_compile_definitions(civetweb_engine_objects
  PUBLIC USE_IPV6 USE_WEBSOCKET OPENSSL_API_3_0 NO_SSL_DL
  PRIVATE NO_CGI)
# The engine's poll quantum bounds how long stopping the server takes (the
# listening thread notices the stop only between polls); the default is 2 s.
target_compile_definitions(civetweb_engine_objects PRIVATE SOCKET_TIMEOUT_QUANTUM=200)
# The stop flag is written by the stopping thread and read by every worker:
# have the engine access it atomically instead of as a plain int.
target_compile_definitions(civetweb_engine_objects PRIVATE STOP_FLAG_NEEDS_LOCK)
# Handlers write answers concurrently, and the engine formats each Date header
# through gmtime's shared buffer unless told to use gmtime_r. Windows' C runtime
# keeps that buffer per thread and has no gmtime_r.
if(NOT WIN32)
  target_compile_definitions(civetweb_engine_objects PRIVATE REENTRANT_TIME)
endif()
# Third-party code: keep its own warnings out of our build output.
target_compile_options(civetweb_engine_objects PRIVATE -w)
target_link_libraries(civetweb_engine_objects PUBLIC OpenSSL::SSL OpenSSL::Crypto Threads::Threads ${CMAKE_DL_LIBS})

# What the program's code links against. The engine's object files are link
# items of this interface, so every executable that links tolvane_core gets
# the whole engine (an object library's objects are not passed on through
# another object library), and the program exports all of its functions.
add_library(civetweb_engine INTERFACE)
target_link_libraries(civetweb_engine INTERFACE civetweb_engine_objects
                      $<TARGET_OBJECTS:civetweb_engine_objects>)
# Re-run configure when a patch changes so the source is fetched and patched anew.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CIVETWEB_PATCHES})
