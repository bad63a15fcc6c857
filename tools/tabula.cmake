# tabula: runs SQL scripts against a database directory, or is an
# interactive SQL shell on a terminal (tabula --help). The shell's logic is
# the library tabula_shell, which the tests drive directly.
downsql_library(tabula_shell
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tabula_output.cc ${CMAKE_CURRENT_LIST_DIR}/tabula_shell.cc
          ${CMAKE_CURRENT_LIST_DIR}/tabula_schema.cc ${CMAKE_CURRENT_LIST_DIR}/tabula_csv.cc
  DEPS access base platform)

# Line editing and history through libedit (Debian libedit-dev) where it is
# found; plain lines otherwise (the Windows build).
find_package(PkgConfig)
if(NOT WIN32 AND PKG_CONFIG_FOUND)
  pkg_check_modules(LIBEDIT IMPORTED_TARGET libedit)
endif()
if(LIBEDIT_FOUND)
  set(tabula_line_editor ${CMAKE_CURRENT_LIST_DIR}/tabula_line_editor_libedit.cc)
  set(tabula_line_editor_lib PkgConfig::LIBEDIT)
else()
  set(tabula_line_editor ${CMAKE_CURRENT_LIST_DIR}/tabula_line_editor_plain.cc)
  set(tabula_line_editor_lib "")
endif()

downsql_program(tabula
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tabula_main.cc ${tabula_line_editor}
  DEPS tabula_shell access base platform ${tabula_line_editor_lib})
