#include "conversion.h"
#include "resource.h"
#include "ui.h"

#include <commctrl.h>
#include <shellapi.h>
#include <string.h>
// Defines the GUIDs that oleacc.h declares, here, rather than linking a
// library for them.
#include <initguid.h>
#include <oleacc.h>

// One character less than the 260-byte path buffer, so what the user typed
// is always read back whole: a 260th character would be cut off silently and
// the program would convert a different file from the one named.
static const WPARAM kFieldLimit = kPathBufferSize - 1;

static const char kFileFilter[] = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";

// Posted to the dialog by a field whose text was cut at the limit, with the
// field's identifier: the field says so from inside its own handling of the
// typing or pasting, which is no place for a message box.
static const UINT kWmPathWasCut = WM_APP;

// The two "..." buttons say what they do: to the mouse in a tooltip, and to
// screen readers, which read a button's name and never its tooltip, as the
// button's accessible name. The tooltip is owned by the dialog and goes with
// it; the names are kept with the buttons by Active Accessibility. Without
// COM (CoCreateInstance fails), the buttons keep their tooltips alone.
static void DescribeBrowseButtons(HWND dialog)
{
    // PROPID_ACC_NAME, which some SDKs' oleacc.h leaves out (Wine's).
    static const MSAAPROPID kAccessibleName = {0x608d3df8, 0x8128, 0x4aa7,
                                               {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
    static const struct {
        int button;
        const WCHAR *words;
    } kButtons[] = {{IDC_BROWSE_WINDOWS, L"Choose the Windows text file"},
                    {IDC_BROWSE_UNIX, L"Choose the Unix text file"}};
    HWND tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, dialog, NULL, GetModuleHandleA(NULL), NULL);
    IAccPropServices *names = NULL;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, NULL, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                (void **)&names)))
        names = NULL;
    for (size_t i = 0; i < sizeof kButtons / sizeof kButtons[0]; ++i) {
        HWND button = GetDlgItem(dialog, kButtons[i].button);
        TOOLINFOW tool;
        ZeroMemory(&tool, sizeof tool);
        tool.cbSize = TTTOOLINFOW_V1_SIZE; // the size every common-controls version takes
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = dialog;
        tool.uId = (UINT_PTR)button;
        tool.lpszText = (LPWSTR)kButtons[i].words;
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, (LPARAM)&tool);
        if (names != NULL)
            names->SetHwndPropStr(button, (DWORD)OBJID_CLIENT, CHILDID_SELF, kAccessibleName,
                                  (LPWSTR)kButtons[i].words);
    }
    if (names != NULL)
        names->Release();
}

// Windows keeps a program of lower integrity from sending a few messages to
// one of higher, among them those of a drop: so a Pelmora run as
// administrator would show Explorer's no-drop cursor unless it lets them
// through. Windows 7 on can allow them for one window, Vista for the whole
// process, XP has no such wall. A refusal is passed by: drops are a help,
// never the only way to name a file.
static void AllowDropsFromLesserPrograms(HWND dialog)
{
    typedef BOOL(WINAPI * WindowFilterCall)(HWND window, UINT message, DWORD action, void *status);
    typedef BOOL(WINAPI * ProcessFilterCall)(UINT message, DWORD flag);
    // WM_COPYGLOBALDATA (0x49), which carries the dropped names, is in no
    // header.
    static const UINT kDropMessages[] = {WM_DROPFILES, WM_COPYDATA, 0x0049};
    const WindowFilterCall forWindow =
        (WindowFilterCall)FindSystemCall("user32.dll", "ChangeWindowMessageFilterEx");
    const ProcessFilterCall forProcess = (ProcessFilterCall)FindSystemCall("user32.dll", "ChangeWindowMessageFilter");
    for (size_t i = 0; i < sizeof kDropMessages / sizeof kDropMessages[0]; ++i) {
        if (forWindow != NULL)
            forWindow(dialog, kDropMessages[i], 1 /* MSGFLT_ALLOW */, NULL);
        else if (forProcess != NULL)
            forProcess(kDropMessages[i], 1 /* MSGFLT_ADD */);
    }
}

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
    AllowDropsFromLesserPrograms(dialog);
    DescribeBrowseButtons(dialog);
}

static void WarnOwnedBy(HWND dialog, const char *text)
{
    MessageBoxA(dialog, text, "Error", MB_OK | MB_ICONWARNING);
}

// What becomes of a name given in Unicode (a field's text, a dropped file,
// a pasted path) as a path in the ANSI code page: it fits, is too long, or
// has characters the code page lacks (or, at Convert, a stream's colon).
enum PathFate { kPathFits, kPathTooLong, kPathHasCharactersPelmoraCannotUse };

// Without best fit: a character that the code page lacks would otherwise
// become a look-alike ('ł' an 'l', a division slash a '/') that names
// another file. The path is empty unless the name fits, whole.
static PathFate MakeAnsiPath(const WCHAR *name, int length, char *path)
{
    path[0] = '\0';
    if (length == 0)
        return kPathFits;
    // Where the ANSI code page is UTF-8, every name converts, and that code
    // page takes no flags and no default character (the call fails with them).
    const int utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    const int written = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, name, length, path,
                                            kPathBufferSize - 1, NULL, utf8 ? NULL : &usedDefault);
    if (written == 0) {
        path[0] = '\0';
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kPathTooLong : kPathHasCharactersPelmoraCannotUse;
    }
    path[written] = '\0';
    if (usedDefault) {
        path[0] = '\0';
        return kPathHasCharactersPelmoraCannotUse;
    }
    return kPathFits;
}

// Says why a name that was given whole (dropped, chosen in a file dialog, or
// read at Convert) is not used; nothing of it is. Returns whether it fits.
static int TellWhyNotUsed(HWND dialog, PathFate fate)
{
    if (fate == kPathTooLong)
        WarnOwnedBy(dialog, "A path can have at most 259 characters.\nThis one is longer, so it was not used.");
    else if (fate == kPathHasCharactersPelmoraCannotUse)
        WarnOwnedBy(dialog, "This file name has characters that Pelmora cannot use.");
    return fate == kPathFits;
}

// A path typed or pasted past 259 characters is cut, and then names a
// different file from the one meant, so the user is told at once: in a
// balloon on the field where the common controls can show one, else in a
// message box.
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

// The first file of a drop goes into the field nearer the pointer; the
// user still presses Convert. The drop's own point is not used: Explorer
// reckons it in its own pixels, and on a scaled display Windows stretches
// this window, which declares no DPI awareness, so the two disagree. Where
// the pointer was when the drop was posted is told in this window's pixels.
// Explorer hands names over in Unicode. A name too long for the field is
// not cut, and not used.
static void TakeDroppedFile(HWND dialog, HDROP drop)
{
    const DWORD position = GetMessagePos();
    POINT point = {(short)LOWORD(position), (short)HIWORD(position)};
    ScreenToClient(dialog, &point); // above the client area, y is negative
    const int field = FieldNearer(dialog, point.y);
    if (DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0) != 0) {
        WCHAR wide[kPathBufferSize];
        PathBuffer name = {0};
        const UINT length = DragQueryFileW(drop, 0, NULL, 0);
        PathFate fate = kPathTooLong;
        if (length < kPathBufferSize && DragQueryFileW(drop, 0, wide, kPathBufferSize) == length)
            fate = MakeAnsiPath(wide, (int)length, name);
        if (TellWhyNotUsed(dialog, fate))
            SendDlgItemMessageA(dialog, field, WM_SETTEXT, 0, (LPARAM)name);
    }
    DragFinish(drop);
}

// Reads a field as the user sees it: in Unicode, as the edit control holds
// it (an "A" read would turn what the code page lacks into look-alikes), and
// without the quotes that Explorer's "Copy as path" puts around a name; a
// quote can never be part of one. Nothing else is trimmed: a leading space
// is a legal part of a name. Text too long for the buffer here is too long
// for a path anyway, and is found so.
static PathFate ReadField(HWND dialog, int field, char *path)
{
    WCHAR text[2 * kPathBufferSize];
    int length = (int)SendDlgItemMessageW(dialog, field, WM_GETTEXT, sizeof text / sizeof text[0], (LPARAM)text);
    const WCHAR *name = text;
    if (length >= 2 && text[0] == L'"' && text[length - 1] == L'"') {
        ++name;
        length -= 2;
    }
    return MakeAnsiPath(name, length, path);
}

// A colon anywhere but after a drive letter at the start (C:, \\?\C:,
// \\.\C:) names a stream: run-10:30.log would make an empty run-10 and hide
// the copy in it, and notes.txt:copy would write into the source itself.
// No byte of a double-byte character is a colon, so it is found as a byte.
static int NamesAStream(const char *path)
{
    const int prefixed = path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.') && path[3] == '\\';
    const char *drive = path + (prefixed ? 4 : 0);
    const char letter = (char)(drive[0] | 0x20);
    const char *rest = letter >= 'a' && letter <= 'z' && drive[1] == ':' ? drive + 2 : path;
    return strchr(rest, ':') != NULL;
}

// A field's name as Convert takes it: as the field shows it, and a file's
// own name, not one of its streams.
static PathFate ReadNameToConvert(HWND dialog, int field, char *path)
{
    const PathFate fate = ReadField(dialog, field, path);
    return fate == kPathFits && NamesAStream(path) ? kPathHasCharactersPelmoraCannotUse : fate;
}

void BrowseForPath(HWND dialog, OPENFILENAMEA *fileDialog, int targetField, char *targetBuffer, int otherField,
                   char *otherBuffer)
{
    // A field that cannot be read whole names no file that can be opened.
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
    // A name too long for the buffer leaves in it the size it would need, not
    // a name. A cancel, and any other failure, say nothing.
    if (chosen)
        SendDlgItemMessageA(dialog, targetField, WM_SETTEXT, 0, (LPARAM)targetBuffer);
    else if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
        TellWhyNotUsed(dialog, kPathTooLong);
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
        if (!TellWhyNotUsed(dialog, ReadNameToConvert(dialog, IDC_WINDOWS_PATH, windowsPath)) ||
            !TellWhyNotUsed(dialog, ReadNameToConvert(dialog, IDC_UNIX_PATH, unixPath)))
            break;
        // The window answers nothing while the work runs, so the pointer
        // says it is busy. No message is retrieved meanwhile, so nothing
        // sets the pointer back before it is restored here.
        // Input made meanwhile is dropped when the work is done.
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
