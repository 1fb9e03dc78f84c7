#include "conversion.h"
#include "resource.h"
#include "ui.h"

#include <commctrl.h>
#include <shellapi.h>

// One character less than the 260-byte path buffer, so what the user typed
// is always read back whole: a 260th character would be cut off silently and
// the program would convert a different file from the one named.
static const WPARAM kFieldLimit = kPathBufferSize - 1;

static const char kFileFilter[] = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";

// Posted to the dialog by a field whose text was cut at the limit, with the
// field's identifier: the field says so from inside its own handling of the
// typing or pasting, which is no place for a message box.
static const UINT kWmPathWasCut = WM_APP;

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
    DragAcceptFiles(dialog, TRUE);
}

static void WarnOwnedBy(HWND dialog, const char *text)
{
    MessageBoxA(dialog, text, "Error", MB_OK | MB_ICONWARNING);
}

// A path cut at 259 characters names a different file from the one meant,
// so the user is told at once: in a balloon on the field where the common
// controls can show one, else in a message box.
static void TellPathIsTooLong(HWND dialog, int field)
{
    EDITBALLOONTIP tip;
    tip.cbStruct = sizeof tip;
    tip.pszTitle = L"Path too long";
    tip.pszText = L"A path can have at most 259 characters. The rest was cut off.";
    tip.ttiIcon = TTI_WARNING;
    if (!SendDlgItemMessageA(dialog, field, EM_SHOWBALLOONTIP, 0, (LPARAM)&tip))
        WarnOwnedBy(dialog, "A path can have at most 259 characters.\nThe rest was cut off.");
}

// The field whose centre is nearer, vertically, to a point in the dialog's
// client area: above the middle between the two fields, the Windows field.
static int FieldNearer(HWND dialog, LONG y)
{
    RECT windowsField, unixField;
    GetWindowRect(GetDlgItem(dialog, IDC_WINDOWS_PATH), &windowsField);
    GetWindowRect(GetDlgItem(dialog, IDC_UNIX_PATH), &unixField);
    MapWindowPoints(NULL, dialog, (POINT *)&windowsField, 2);
    MapWindowPoints(NULL, dialog, (POINT *)&unixField, 2);
    const LONG middle = (windowsField.top + windowsField.bottom + unixField.top + unixField.bottom) / 4;
    return y < middle ? IDC_WINDOWS_PATH : IDC_UNIX_PATH;
}

// The first file of a drop goes into the field nearer the drop point; the
// user still presses Convert. Explorer hands names over in Unicode, so this
// is the one wide call in the dialog. The name is made ANSI without best
// fit: a character the code page lacks would otherwise become a look-alike
// that names another file. A name too long for the field is not cut.
static void TakeDroppedFile(HWND dialog, HDROP drop)
{
    POINT point = {0, 0};
    DragQueryPoint(drop, &point); // the point holds even for a drop outside the client area
    const int field = FieldNearer(dialog, point.y);
    WCHAR wide[kPathBufferSize];
    PathBuffer name = {0};
    BOOL usedDefault = FALSE;
    // Where the ANSI code page is UTF-8, every name converts, and that
    // code page takes no flags and no default character.
    const int utf8 = GetACP() == CP_UTF8;
    if (DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0) != 0) {
        const int fits = DragQueryFileW(drop, 0, NULL, 0) < kPathBufferSize &&
                         DragQueryFileW(drop, 0, wide, kPathBufferSize) != 0 &&
                         WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, name, sizeof name,
                                             NULL, utf8 ? NULL : &usedDefault) != 0;
        if (!fits)
            TellPathIsTooLong(dialog, field);
        else if (usedDefault)
            WarnOwnedBy(dialog, "This file name has characters that Pelmora cannot use.");
        else
            SendDlgItemMessageA(dialog, field, WM_SETTEXT, 0, (LPARAM)name);
    }
    DragFinish(drop);
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
        // No question about replacing a file that exists: Convert never
        // replaces one, so its Yes could never be honoured.
        fileDialog->Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
        chosen = GetSaveFileNameA(fileDialog);
    }
    if (chosen)
        SendDlgItemMessageA(dialog, targetField, WM_SETTEXT, 0, (LPARAM)targetBuffer);
    if (otherFile != INVALID_HANDLE_VALUE)
        CloseHandle(otherFile);
}

static void RunMainCommand(HWND dialog, int command, int notification)
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
    case IDC_CONVERT: {
        ReadField(dialog, IDC_WINDOWS_PATH, windowsPath);
        ReadField(dialog, IDC_UNIX_PATH, unixPath);
        // The window answers nothing while the work runs, so the pointer
        // says it is busy. No message is retrieved meanwhile, so nothing
        // sets the pointer back before it is restored here.
        HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
        RunConversion(dialog, windowsPath, unixPath);
        SetCursor(previous);
        break;
    }
    case IDC_WINDOWS_PATH:
    case IDC_UNIX_PATH:
        if (notification == EN_MAXTEXT)
            PostMessageA(dialog, kWmPathWasCut, (WPARAM)command, 0);
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
        RunMainCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_DROPFILES:
        TakeDroppedFile(dialog, (HDROP)wParam);
        return TRUE;
    case kWmPathWasCut:
        TellPathIsTooLong(dialog, (int)wParam);
        return TRUE;
    case WM_DESTROY:
        // LoadImage made this icon for the window alone; the large one from
        // LoadIcon is shared and must not be destroyed.
        DestroyIcon((HICON)SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
        return FALSE;
    }
    return FALSE;
}
