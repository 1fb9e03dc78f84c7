# Cross build for 32-bit Windows with MinGW-w64: the released Pelmora.exe.
set(CMAKE_SYSTEM_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
