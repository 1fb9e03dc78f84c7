# Cross build for Windows with MinGW-w64, for the processor that the
# including toolchain file names (i686 or x86_64). The posix-threads
# compilers are needed because GoogleTest uses std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(PELMORA_MINGW_TRIPLE "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32")

set(CMAKE_C_COMPILER ${PELMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELMORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELMORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every executable is static, so none needs a MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;--tests")
