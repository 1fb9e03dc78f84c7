# Cross build for Windows in MSVC mode: clang-cl, lld-link and llvm-rc from
# Debian's clang, lld and llvm, against the Windows SDK and msvcrt headers and
# the import libraries that Debian's libwine-dev ships, for the processor that
# the including toolchain file names (PELMORA_WINE_ARCH: i386 or x86_64).
#
# It checks that the program builds with an MSVC-style compiler and its
# warnings. Everything marked "Wine's SDK" below works around that SDK, not
# the program: a real Visual Studio build needs none of it.
set(CMAKE_SYSTEM_NAME Windows)

# Debian installs clang-cl (from clang, or clang-tools on Debian 13) only
# under a versioned name, and beside the default clang in the folder that
# /usr/bin/clang links into (/usr/lib/llvm-N/bin).
find_program(PELMORA_CLANG NAMES clang REQUIRED)
file(REAL_PATH "${PELMORA_CLANG}" PELMORA_CLANG_REAL)
get_filename_component(PELMORA_CLANG_DIR "${PELMORA_CLANG_REAL}" DIRECTORY)
find_program(PELMORA_CLANG_CL NAMES clang-cl HINTS "${PELMORA_CLANG_DIR}" REQUIRED)
set(CMAKE_C_COMPILER "${PELMORA_CLANG_CL}")
set(CMAKE_CXX_COMPILER "${PELMORA_CLANG_CL}")
set(CMAKE_C_COMPILER_TARGET ${PELMORA_CLANG_CL_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${PELMORA_CLANG_CL_TARGET})
find_program(CMAKE_LINKER NAMES lld-link REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt mt)

set(PELMORA_WINE_INCLUDE /usr/include/wine/wine)
set(PELMORA_WINE_LIB /usr/lib/${PELMORA_WINE_ARCH}-linux-gnu/wine/${PELMORA_WINE_ARCH}-windows)
if(NOT EXISTS "${PELMORA_WINE_INCLUDE}/windows/windows.h" OR NOT EXISTS "${PELMORA_WINE_LIB}/libkernel32.a")
  message(FATAL_ERROR "Wine's SDK is missing: install libwine-dev and libwine-dev:i386")
endif()

# Wine's SDK: its winnt.h defines these under _MSC_VER, and clang has them as
# builtins, so they are renamed out of the way.
set(PELMORA_WINE_RENAMES "")
foreach(name _InterlockedAnd64 _InterlockedCompareExchangePointer _InterlockedDecrement64
             _InterlockedExchangeAdd64 _InterlockedExchangePointer _InterlockedIncrement64
             _InterlockedOr64 _InterlockedXor64 _InterlockedCompareExchange128)
  string(APPEND PELMORA_WINE_RENAMES " -D${name}=wine${name}")
endforeach()

# /imsvc: the SDK and C runtime headers, searched as system headers.
# /GS-: Wine's SDK; its msvcrt import library has no security cookie.
# WINE_UNICODE_NATIVE: Wine's SDK; without it WCHAR is char16_t, so L"..."
# would not be a WCHAR string as it is with Windows' own SDK.
set(PELMORA_WINE_FLAGS "/imsvc${PELMORA_WINE_INCLUDE}/msvcrt /imsvc${PELMORA_WINE_INCLUDE}/windows /GS- -DWINE_UNICODE_NATIVE${PELMORA_WINE_RENAMES}")
set(CMAKE_C_FLAGS_INIT "${PELMORA_WINE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${PELMORA_WINE_FLAGS}")
set(CMAKE_RC_FLAGS_INIT "-I${PELMORA_WINE_INCLUDE}/windows")

# Wine's SDK: its import libraries are named libkernel32.a and so on, so the
# names the linker asks for (kernel32.lib) are links to them in the build.
set(PELMORA_WINE_LIB_LINKS "${CMAKE_BINARY_DIR}/wine-import-libraries")
file(MAKE_DIRECTORY "${PELMORA_WINE_LIB_LINKS}")
foreach(name kernel32 user32 gdi32 comctl32 comdlg32 shell32 ole32 advapi32 msvcrt)
  file(CREATE_LINK "${PELMORA_WINE_LIB}/lib${name}.a" "${PELMORA_WINE_LIB_LINKS}/${name}.lib" SYMBOLIC)
endforeach()

# /SAFESEH:NO (x86 only): Wine's SDK; its import libraries carry no safe-SEH
# marker.
# /ENTRY:mainCRTStartup: Wine's SDK; the only start-up code in its
# libmsvcrt.a, which calls main, whose copy there calls WinMain.
# /NODEFAULTLIB:oldnames.lib: Wine's SDK has none.
set(PELMORA_WINE_SAFESEH "")
if(PELMORA_WINE_ARCH STREQUAL "i386")
  set(PELMORA_WINE_SAFESEH " /SAFESEH:NO")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "/LIBPATH:${PELMORA_WINE_LIB_LINKS}${PELMORA_WINE_SAFESEH} /ENTRY:mainCRTStartup /NODEFAULTLIB:oldnames.lib")
set(CMAKE_C_STANDARD_LIBRARIES "kernel32.lib user32.lib" CACHE STRING "Libraries every program links")
set(CMAKE_CXX_STANDARD_LIBRARIES "kernel32.lib user32.lib" CACHE STRING "Libraries every program links")

# Wine's SDK: it has no static C runtime and no msvcrtd start-up code, so
# every configuration links the release DLL runtime (/MD) here, where
# CMakeLists.txt would otherwise link the runtime statically (/MT).
set(CMAKE_MSVC_RUNTIME_LIBRARY MultiThreadedDLL)

# Wine's SDK: it has no C++ standard library, so of the tests only the
# checks of the build itself can be built.
set(PELMORA_TOOLCHAIN_LACKS_CXX_LIBRARY ON)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
