# GoogleTest for the Windows cross-build of the tests (run under wine by
# scripts/test-windows.sh): Debian's googletest package installs the
# sources, which are compiled here with the cross compiler.
set(DOWNSQL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross-build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${DOWNSQL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${t})
    add_library(GTest::${t} ALIAS ${t})
  endif()
endforeach()
