# Cross build for 64-bit Windows in MSVC mode, against Wine's SDK.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(PELMORA_CLANG_CL_TARGET x86_64-pc-windows-msvc)
set(PELMORA_WINE_ARCH x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/clang-cl-wine.cmake")
