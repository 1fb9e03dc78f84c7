#include "conversion.h"
#include "resource.h"
#include "ui.h"

// One character less than the 260-byte path buffer, so what the user typed
// is always read back whole: a 260th character would be cut off silently and
// the program would convert a different file from the one named.
static const WPARAM kFieldLimit = kPathBufferSize - 1;

static const char kFileFilter[] = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";

static void InitMainDialog(HWND dialog)
{
    HINSTANCE module = GetModuleHandleA(NULL);
    HICON smallIcon =
        (HICON)LoadImageA(module, MAKEINTRESOURCEA(IDI_APPICON), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)smallIcon);
    HICON bigIcon = LoadIconA(module, MAKEINTRESOURCEA(IDI_APPICON));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)bigIcon);
    SendDlgItemMessageA(dialog, IDC_WINDOWS_PATH, EM_LIMITTEXT, kFieldLimit, 0);
    SendDlgItemMessageA(dialog, IDC_UNIX_PATH, EM_LIMITTEXT, kFieldLimit, 0);
}

static void ReadField(HWND dialog, int field, char *buffer)
{
    SendDlgItemMessageA(dialog, field, WM_GETTEXT, kPathBufferSize, (LPARAM)buffer);
}

void BrowseForPath(HWND dialog, OPENFILENAMEA *fileDialog, int targetField, char *targetBuffer, int otherField,
                   char *otherBuffer)
{
    ReadField(dialog, otherField, otherBuffer);
    HANDLE otherFile = OpenExistingFile(otherBuffer);
    // The file dialog starts with an empty name, whatever the field holds.
    fileDialog->lpstrFile = targetBuffer;
    BOOL chosen;
    if (otherFile == INVALID_HANDLE_VALUE) {
        fileDialog->Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
        chosen = GetOpenFileNameA(fileDialog);
    } else {
        fileDialog->Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        chosen = GetSaveFileNameA(fileDialog);
    }
    if (chosen)
        SendDlgItemMessageA(dialog, targetField, WM_SETTEXT, 0, (LPARAM)targetBuffer);
    if (otherFile != INVALID_HANDLE_VALUE)
        CloseHandle(otherFile);
}

static void RunMainCommand(HWND dialog, int command)
{
    PathBuffer windowsPath = {0};
    PathBuffer unixPath = {0};
    OPENFILENAMEA fileDialog;
    ZeroMemory(&fileDialog, sizeof fileDialog);
    // The original, shorter record: every Windows version accepts it.
    fileDialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    fileDialog.hwndOwner = dialog;
    fileDialog.lpstrFilter = kFileFilter;
    fileDialog.nFilterIndex = 0;
    fileDialog.nMaxFile = kPathBufferSize;
    fileDialog.lpstrDefExt = "txt";

    switch (command) {
    case IDC_BROWSE_WINDOWS:
        BrowseForPath(dialog, &fileDialog, IDC_WINDOWS_PATH, windowsPath, IDC_UNIX_PATH, unixPath);
        break;
    case IDC_BROWSE_UNIX:
        BrowseForPath(dialog, &fileDialog, IDC_UNIX_PATH, unixPath, IDC_WINDOWS_PATH, windowsPath);
        break;
    case IDC_CONVERT:
        ReadField(dialog, IDC_WINDOWS_PATH, windowsPath);
        ReadField(dialog, IDC_UNIX_PATH, unixPath);
        RunConversion(dialog, windowsPath, unixPath);
        break;
    case IDC_ABOUT:
        if (DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0) == -1)
            MessageBoxA(dialog, "Dialog failed!", "Error", MB_OK | MB_ICONINFORMATION);
        break;
    case IDC_EXIT:
        EndDialog(dialog, 0);
        break;
    default:
        // Includes IDCANCEL from the Esc key: Esc must not close the window.
        break;
    }
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitMainDialog(dialog);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        RunMainCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        // LoadImage made this icon for the window alone; the large one from
        // LoadIcon is shared and must not be destroyed.
        DestroyIcon((HICON)SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
        return FALSE;
    }
    return FALSE;
}
