# Toolchain for the 32-bit Windows DLL, the product (Debian's mingw-w64
# packages).
set(MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
