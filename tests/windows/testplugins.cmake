# Plug-ins the wine run loads (tests/windows/wine_test.py): the same plug-in
# built against each declaration of Logger::PrintLog (its record kind as the
# EnumLoggerType enumeration and as int), linked against the program's import
# library; and a resource plug-in that records its start and stop calls.
foreach(kind Enum Int)
  add_library(${kind}KindPlugin SHARED ${CMAKE_SOURCE_DIR}/tests/abi/kindplugin.cpp)
  set_target_properties(${kind}KindPlugin PROPERTIES PREFIX "" OUTPUT_NAME ${kind}KindPlugin)
  target_include_directories(${kind}KindPlugin PRIVATE ${TOLVANE_PUBLIC_INCLUDES})
  target_link_libraries(${kind}KindPlugin PRIVATE tolvaneredfishserver)
  target_compile_options(${kind}KindPlugin PRIVATE ${TOLVANE_WARNINGS})
endforeach()
target_compile_definitions(EnumKindPlugin PRIVATE TOLVANE_KIND_AS_ENUM=1)
target_compile_definitions(IntKindPlugin PRIVATE TOLVANE_KIND_AS_ENUM=0)

add_library(RecordingPlugin SHARED ${CMAKE_SOURCE_DIR}/tests/windows/recordingplugin.cpp)
set_target_properties(RecordingPlugin PROPERTIES PREFIX "" OUTPUT_NAME RecordingPlugin)
target_include_directories(RecordingPlugin PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_compile_options(RecordingPlugin PRIVATE ${TOLVANE_WARNINGS})

add_custom_target(windows_test_plugins ALL DEPENDS EnumKindPlugin IntKindPlugin RecordingPlugin)
