#include "resource.h"
#include "ui.h"

#include <commctrl.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    InitCommonControls();
    // For the buttons' accessible names; the file dialogs want a
    // single-threaded apartment too. Pelmora runs without it all the same.
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0) == -1)
        MessageBoxA(NULL, "Create Window Failed!", "Error", MB_OK | MB_ICONINFORMATION);
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}
