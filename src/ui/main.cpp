#include "resource.h"
#include "ui.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    InitCommonControls();
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0) == -1)
        MessageBoxA(NULL, "Create Window Failed!", "Error", MB_OK | MB_ICONINFORMATION);
    return 0;
}
