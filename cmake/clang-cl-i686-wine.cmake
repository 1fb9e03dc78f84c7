# Cross build for 32-bit Windows in MSVC mode, against Wine's SDK.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(PELMORA_CLANG_CL_TARGET i686-pc-windows-msvc)
set(PELMORA_WINE_ARCH i386)
include("${CMAKE_CURRENT_LIST_DIR}/clang-cl-wine.cmake")
