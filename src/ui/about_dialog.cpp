#include "ui.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        // Esc arrives as IDCANCEL and is ignored on purpose: only OK, Enter
        // and the close box dismiss the box.
        if (LOWORD(wParam) == IDOK)
            EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}
