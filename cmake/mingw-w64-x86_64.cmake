# Toolchain for a 64-bit Windows build (Debian's mingw-w64 packages). The
# product is the 32-bit DLL (mingw-w64-i686.cmake); this build runs the same
# code under wine64 on machines whose kernel cannot run 32-bit programs.
set(MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
