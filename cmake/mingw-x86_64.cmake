# Cross build for 64-bit Windows with MinGW-w64: the 64-bit Pelmora.exe,
# and the Windows tests on a machine that runs no 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
