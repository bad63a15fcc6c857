# testhost: a Windows host program that loads downsql.dll, calls DoUpdate
# and drives its dialog (run under wine by scripts/test-windows.sh). It
# talks to the library only through the export and the window.
if(WIN32)
  downsql_program(testhost SOURCES ${CMAKE_CURRENT_LIST_DIR}/testhost_main.cc DEPS user32 gdi32)
  target_include_directories(testhost PRIVATE ${PROJECT_SOURCE_DIR})
  add_dependencies(testhost downsql)
endif()
