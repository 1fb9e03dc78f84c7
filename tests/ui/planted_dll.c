/* Planted by the tests beside a copy of a test program, under the name of
   one of Windows' own DLLs: the program that loads it has looked in its own
   folder. It does nothing. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
