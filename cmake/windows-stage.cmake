# The Windows install tree, beside the Linux one: stage/RedfishServer/ as it
# goes under the install path on a Windows machine, and stage/sdk/ with the
# headers and the import library plug-in authors link against.
set(TOLVANE_STAGE_SDK_DIR ${TOLVANE_STAGE_DIR}/sdk)
set(TOLVANE_STAGE_IMPORT_LIBRARY ${TOLVANE_STAGE_SDK_DIR}/lib/libtolvaneredfishserver.dll.a)
# The engine's own C++ wrapper header is left out: its name differs from ours
# only in letter case, which a Windows file system does not tell apart.
set(TOLVANE_SDK_HEADERS
    ${CMAKE_SOURCE_DIR}/include/RedfishPlugin.h
    ${CMAKE_SOURCE_DIR}/src/logging/Logger.h
    ${CMAKE_SOURCE_DIR}/civetweb/include/civetserver.h
    ${CMAKE_SOURCE_DIR}/civetweb/include/civetweb_ext.h
    ${CMAKE_SOURCE_DIR}/civetweb/include/formrequest.h
    ${CIVETWEB_INCLUDE_DIR}/civetweb.h)
add_custom_target(stage ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLVANE_STAGE_SERVER_DIR}/Plugins
          ${TOLVANE_STAGE_SDK_DIR}/include ${TOLVANE_STAGE_SDK_DIR}/lib
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tolvaneredfishserver> ${TOLVANE_STAGE_SERVER_DIR}/
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:WebServerAbstractionModule>
          ${TOLVANE_STAGE_SERVER_DIR}/WebServerAbstractionModule.dll
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:LogServicePlugin>
          ${TOLVANE_STAGE_SERVER_DIR}/Plugins/LogServicePlugin.dll
  COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/stage-config.sh ${CMAKE_SOURCE_DIR} ${TOLVANE_STAGE_SERVER_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TOLVANE_SDK_HEADERS} ${TOLVANE_STAGE_SDK_DIR}/include/
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_LINKER_FILE:tolvaneredfishserver>
          ${TOLVANE_STAGE_IMPORT_LIBRARY}
  BYPRODUCTS ${TOLVANE_STAGE_IMPORT_LIBRARY}
  DEPENDS tolvaneredfishserver WebServerAbstractionModule LogServicePlugin
  COMMENT "Staging the Windows install tree in ${TOLVANE_STAGE_DIR}")

# What the wine run loads besides the bundled plug-ins.
include(${CMAKE_SOURCE_DIR}/tests/windows/testplugins.cmake)
