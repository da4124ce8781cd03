# Plug-ins the wine run loads (tests/windows/wine_test.py): the same plug-in
# built against each declaration of Logger::PrintLog (its record kind as the
# EnumLoggerType enumeration and as int), and a resource plug-in that records
# its start and stop calls. The EnumLoggerType one is built as a plug-in
# author would, from the staged sdk/ alone (headers and import library); the
# int one against the build tree.
add_library(EnumKindPlugin SHARED ${CMAKE_SOURCE_DIR}/tests/abi/kindplugin.cpp)
target_include_directories(EnumKindPlugin PRIVATE ${TOLVANE_STAGE_SDK_DIR}/include)
target_link_libraries(EnumKindPlugin PRIVATE ${TOLVANE_STAGE_IMPORT_LIBRARY})
target_compile_definitions(EnumKindPlugin PRIVATE TOLVANE_KIND_AS_ENUM=1)
add_dependencies(EnumKindPlugin stage)

add_library(IntKindPlugin SHARED ${CMAKE_SOURCE_DIR}/tests/abi/kindplugin.cpp)
target_include_directories(IntKindPlugin PRIVATE ${TOLVANE_PUBLIC_INCLUDES})
target_link_libraries(IntKindPlugin PRIVATE tolvaneredfishserver)
target_compile_definitions(IntKindPlugin PRIVATE TOLVANE_KIND_AS_ENUM=0)

add_library(RecordingPlugin SHARED ${CMAKE_SOURCE_DIR}/tests/windows/recordingplugin.cpp)
target_include_directories(RecordingPlugin PRIVATE ${CMAKE_SOURCE_DIR}/include)

foreach(plugin EnumKindPlugin IntKindPlugin RecordingPlugin)
  set_target_properties(${plugin} PROPERTIES PREFIX "" OUTPUT_NAME ${plugin})
  target_compile_options(${plugin} PRIVATE ${TOLVANE_WARNINGS})
endforeach()
add_custom_target(windows_test_plugins ALL DEPENDS EnumKindPlugin IntKindPlugin RecordingPlugin)
