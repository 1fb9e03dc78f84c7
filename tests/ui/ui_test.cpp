// The window's procedures in this process: the icons they set, the file
// dialogs they ask for, and the messages shown when a dialog cannot be
// created; and, in helper processes, where DLLs come from.
#include "message_capture.h"
#include "pelmora_path_win32.h"
#include "resource.h"
#include "temp_dir.h"
#include "ui.h"
#include "win32_test_tools.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int);

namespace {

SIZE IconSize(HICON icon)
{
    SIZE size = {0, 0};
    ICONINFO info;
    if (GetIconInfo(icon, &info)) {
        BITMAP bitmap;
        GetObjectA(info.hbmColor != NULL ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        size.cx = bitmap.bmWidth;
        size.cy = info.hbmColor != NULL ? bitmap.bmHeight : bitmap.bmHeight / 2;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    return size;
}

// The main dialog from Pelmora.exe's template, run by this process's code.
class MainDialog : public testing::Test {
protected:
    void SetUp() override
    {
        templates_ = LoadLibraryExA(PelmoraPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(templates_, (HMODULE)NULL);
        dialog_ = CreateDialogParamA(templates_, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0);
        ASSERT_NE(dialog_, (HWND)NULL);
    }
    void TearDown() override
    {
        if (dialog_ != NULL)
            DestroyWindow(dialog_);
        if (templates_ != NULL)
            FreeLibrary(templates_);
    }

    HMODULE templates_ = NULL;
    HWND dialog_ = NULL;
};

TEST_F(MainDialog, SetsASmallAndALargeIcon)
{
    HICON smallIcon = (HICON)SendMessageA(dialog_, WM_GETICON, ICON_SMALL, 0);
    HICON big = (HICON)SendMessageA(dialog_, WM_GETICON, ICON_BIG, 0);
    ASSERT_NE(smallIcon, (HICON)NULL);
    ASSERT_NE(big, (HICON)NULL);
    EXPECT_EQ(IconSize(smallIcon).cx, 16);
    EXPECT_EQ(IconSize(smallIcon).cy, 16);
    EXPECT_EQ(IconSize(big).cx, GetSystemMetrics(SM_CXICON));
}

TEST_F(MainDialog, EachDialogStartsWithTheFocusItsProcedureGives)
{
    // Made hidden, so that no activation hands out the focus: only the
    // procedure's answer to WM_INITDIALOG can.
    const struct {
        int dialog;
        DLGPROC procedure;
        int focus;
    } cases[] = {{IDD_MAIN, MainDialogProc, IDC_WINDOWS_PATH}, {IDD_ABOUT, AboutDialogProc, IDOK}};
    for (const auto &c : cases) {
        HRSRC found = FindResourceA(templates_, MAKEINTRESOURCEA(c.dialog), (LPCSTR)RT_DIALOG);
        const BYTE *bytes = (const BYTE *)LockResource(LoadResource(templates_, found));
        std::vector<BYTE> hiddenTemplate(bytes, bytes + SizeofResource(templates_, found));
        ((DLGTEMPLATE *)hiddenTemplate.data())->style &= ~WS_VISIBLE;
        SetFocus(NULL);
        HWND hidden = CreateDialogIndirectParamA(templates_, (LPCDLGTEMPLATEA)hiddenTemplate.data(), NULL,
                                                 c.procedure, 0);
        EXPECT_EQ(GetFocus(), GetDlgItem(hidden, c.focus)) << "dialog " << c.dialog;
        DestroyWindow(hidden);
    }
}

const char kTooLongNotUsed[] = "A path can have at most 259 characters.\nThis one is longer, so it was not used.";
const char kCannotUse[] = "This file name has characters that Pelmora cannot use.";
const char kNeitherOrBoth[] = "Neither (or both) of the files\nyou specified exists.";

// This one warning, or none when text is NULL.
void ExpectWarnings(const std::vector<CapturedMessage> &told, const char *text, HWND owner)
{
    if (text != NULL)
        ExpectOneWarning(told, text, owner);
    else
        EXPECT_TRUE(told.empty()) << told[0].text;
}

// What the program asked the file dialog for. The stand-in dialogs fail, as
// a cancel or, when told, as a name too long for the buffer, which then
// holds the size needed, as Windows leaves it.
const char *g_dialogShown = NULL;
OPENFILENAMEA g_dialogAsked;
std::string g_nameOffered;
DWORD g_dialogError = 0;

BOOL DialogFailed(const char *dialog, LPOPENFILENAMEA record)
{
    g_dialogShown = dialog;
    g_dialogAsked = *record;
    g_nameOffered = record->lpstrFile;
    if (g_dialogError == FNERR_BUFFERTOOSMALL)
        std::memcpy(record->lpstrFile, "\x07\x01", 2); // 263
    return FALSE;
}

BOOL WINAPI OpenDialogFailed(LPOPENFILENAMEA record) { return DialogFailed("Open", record); }
BOOL WINAPI SaveDialogFailed(LPOPENFILENAMEA record) { return DialogFailed("Save", record); }
DWORD WINAPI DialogError() { return g_dialogError; }

TEST_F(MainDialog, BrowseAsksForExplorerDialogsOnTextFilesAndClosesWhatItOpened)
{
    void *realOpen = ReplaceImport("comdlg32.dll", "GetOpenFileNameA", (void *)OpenDialogFailed);
    void *realSave = ReplaceImport("comdlg32.dll", "GetSaveFileNameA", (void *)SaveDialogFailed);
    void *realError = ReplaceImport("comdlg32.dll", "CommDlgExtendedError", (void *)DialogError);
    ASSERT_TRUE(realOpen != NULL && realSave != NULL && realError != NULL);
    const std::filesystem::path dir = MakeTempDir();
    WriteBytes(dir / "exists.txt", "x\n");
    const char filter[] = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    const struct {
        int button, target, other;
        const char *otherName, *dialog;
        DWORD error;
        const char *told;
    } cases[] = {
        {IDC_BROWSE_WINDOWS, IDC_WINDOWS_PATH, IDC_UNIX_PATH, "missing.txt", "Open", 0, NULL},
        {IDC_BROWSE_UNIX, IDC_UNIX_PATH, IDC_WINDOWS_PATH, "exists.txt", "Save", 0, NULL},
        {IDC_BROWSE_WINDOWS, IDC_WINDOWS_PATH, IDC_UNIX_PATH, "exists.txt", "Save", FNERR_BUFFERTOOSMALL, kTooLongNotUsed},
    };
    for (const auto &c : cases) {
        SetDlgItemTextA(dialog_, c.target, "keep me");
        SetDlgItemTextA(dialog_, c.other, Narrow(dir / c.otherName).c_str());
        g_dialogShown = NULL;
        g_dialogError = c.error;
        const unsigned long before = OpenHandleCount();
        ASSERT_GT(before, 0ul) << "cannot count this process's handles";
        BeginMessageCapture();
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
        ExpectWarnings(EndMessageCapture(), c.told, dialog_);
        EXPECT_EQ(OpenHandleCount(), before) << "a handle stayed open after the " << c.dialog << " dialog";
        ASSERT_NE(g_dialogShown, (const char *)NULL);
        EXPECT_STREQ(g_dialogShown, c.dialog);
        // The original record, which ends with lpTemplateName: 76 bytes in
        // 32 bits, 136 in 64.
        EXPECT_EQ(g_dialogAsked.lStructSize, offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR));
        EXPECT_EQ(g_dialogAsked.hwndOwner, dialog_);
        EXPECT_EQ(g_dialogAsked.Flags, (DWORD)(OFN_EXPLORER | OFN_HIDEREADONLY)) << std::hex << g_dialogAsked.Flags;
        EXPECT_EQ(std::memcmp(g_dialogAsked.lpstrFilter, filter, sizeof filter), 0);
        EXPECT_EQ(g_dialogAsked.nFilterIndex, 0u) << "the dialog starts on the first filter, the text files";
        EXPECT_EQ(g_dialogAsked.nMaxFile, 260u);
        EXPECT_STREQ(g_dialogAsked.lpstrDefExt, "txt");
        EXPECT_EQ(g_nameOffered, "") << "the dialog starts with an empty name";
        EXPECT_EQ(g_dialogAsked.lpstrInitialDir, (LPCSTR)NULL);
        EXPECT_EQ(g_dialogAsked.lpfnHook, (LPOFNHOOKPROC)NULL);
        char kept[16] = "";
        GetDlgItemTextA(dialog_, c.target, kept, sizeof kept);
        EXPECT_STREQ(kept, "keep me") << "a dialog that failed changed the field";
    }
    g_dialogError = 0;
    ReplaceImport("comdlg32.dll", "GetOpenFileNameA", realOpen);
    ReplaceImport("comdlg32.dll", "GetSaveFileNameA", realSave);
    ReplaceImport("comdlg32.dll", "CommDlgExtendedError", realError);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// This program asks for no common controls 6, so a field shows no balloon
// here, and a cut path is told in a message box.
const char kTooLong[] = "A path can have at most 259 characters.\nThe rest was cut off.";

TEST_F(MainDialog, APathCutAtTheLimitIsToldAtOnce)
{
    for (int field : {IDC_WINDOWS_PATH, IDC_UNIX_PATH}) {
        HWND edit = GetDlgItem(dialog_, field);
        BeginMessageCapture();
        SendMessageA(edit, EM_REPLACESEL, TRUE, (LPARAM)std::string(302, 'p').c_str()); // as a paste makes it
        MSG posted;
        while (PeekMessageA(&posted, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&posted);
        ExpectOneWarning(EndMessageCapture(), kTooLong, dialog_);
        EXPECT_EQ(GetWindowTextLengthA(edit), 259);
    }
}

// Runs the queue as the dialog's modal loop would; returns what it said.
std::vector<CapturedMessage> RunQueue(HWND dialog)
{
    BeginMessageCapture();
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        if (!IsDialogMessageA(dialog, &message))
            DispatchMessageA(&message);
    return EndMessageCapture();
}

TEST_F(MainDialog, ADroppedFileGoesWholeIntoTheFieldNearerThePointer)
{
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'n') + L".txt";
    const std::wstring onePast = L"C:\\" + std::wstring(253, L'n') + L".txt"; // 260 characters
    const struct {
        int at;       // the pointer is over this control's centre
        bool caption; // or above the window's client area
        std::vector<std::wstring> names;
        int field;
        const char *text; // what the field then holds
        const char *told;
    } cases[] = {
        {IDC_WINDOWS_PATH, false, {L"C:\\notes.txt", L"C:\\other.txt"}, IDC_WINDOWS_PATH, "C:\\notes.txt", NULL},
        {IDC_UNIX_PATH, false, {L"C:\\caf\u00E9.txt"}, IDC_UNIX_PATH, "C:\\caf\xE9.txt", NULL},
        {IDC_EXIT, false, {L"D:\\unix.txt"}, IDC_UNIX_PATH, "D:\\unix.txt", NULL},
        {IDC_BROWSE_WINDOWS, true, {L"C:\\top.txt"}, IDC_WINDOWS_PATH, "C:\\top.txt", NULL},
        {IDC_UNIX_PATH, false, {tooLong}, IDC_UNIX_PATH, "keep", kTooLongNotUsed},
        {IDC_UNIX_PATH, false, {onePast}, IDC_UNIX_PATH, "keep", kTooLongNotUsed},
        // Best fit would make the division slash a '/', and so name another file.
        {IDC_WINDOWS_PATH, false, {L"C:\\a\u2215b.txt"}, IDC_WINDOWS_PATH, "keep", kCannotUse},
    };
    for (const auto &c : cases) {
        SetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, "keep");
        SetDlgItemTextA(dialog_, IDC_UNIX_PATH, "keep");
        RECT rect;
        GetWindowRect(GetDlgItem(dialog_, c.at), &rect);
        MapWindowPoints(NULL, dialog_, (POINT *)&rect, 2);
        POINT pointer = {(rect.left + rect.right) / 2, c.caption ? -8 : (rect.top + rect.bottom) / 2};
        ClientToScreen(dialog_, &pointer);
        ASSERT_TRUE(MovePointerTo(pointer));
        // The drop's own point, which a scaled display puts in other pixels,
        // is over the other field.
        GetWindowRect(GetDlgItem(dialog_, c.field == IDC_WINDOWS_PATH ? IDC_UNIX_PATH : IDC_WINDOWS_PATH), &rect);
        MapWindowPoints(NULL, dialog_, (POINT *)&rect, 2);
        const POINT elsewhere = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        const std::vector<unsigned char> block = DropFilesBlock(elsewhere, false, c.names);
        HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE, block.size());
        std::memcpy(GlobalLock(drop), block.data(), block.size());
        GlobalUnlock(drop);
        // Posted, as Windows posts a drop: it carries where the pointer was.
        PostMessageA(dialog_, WM_DROPFILES, (WPARAM)drop, 0);
        const std::vector<CapturedMessage> told = RunQueue(dialog_);
        EXPECT_EQ(GlobalSize(drop), 0u) << "DragFinish was not called";
        char windowsText[300] = "", unixText[300] = "";
        GetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, windowsText, sizeof windowsText);
        GetDlgItemTextA(dialog_, IDC_UNIX_PATH, unixText, sizeof unixText);
        EXPECT_STREQ(c.field == IDC_WINDOWS_PATH ? windowsText : unixText, c.text) << c.at;
        EXPECT_STREQ(c.field == IDC_WINDOWS_PATH ? unixText : windowsText, "keep") << c.at;
        ExpectWarnings(told, c.told, dialog_);
    }
}

// The names Convert hands to the probe, which opens the Windows file first;
// and a code page where a character can take two bytes, for this program's
// own calls.
typedef HANDLE(WINAPI *CreateFileFunction)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
CreateFileFunction g_realCreateFile = NULL;
std::vector<std::string> g_opened;
HANDLE WINAPI CreateFileNoted(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model)
{
    g_opened.push_back(name);
    return g_realCreateFile(name, access, share, security, disposition, flags, model);
}
typedef int(WINAPI *WideToAnsiFunction)(UINT, DWORD, LPCWSTR, int, LPSTR, int, LPCSTR, LPBOOL);
WideToAnsiFunction g_realWideToAnsi = NULL;
UINT g_codePage = CP_ACP;
int WINAPI WideToAnsiIn(UINT page, DWORD flags, LPCWSTR wide, int length, LPSTR ansi, int size, LPCSTR fallback,
                        LPBOOL usedDefault)
{
    return g_realWideToAnsi(page == CP_ACP ? g_codePage : page, flags, wide, length, ansi, size, fallback, usedDefault);
}

TEST_F(MainDialog, ConvertUsesTheNamesTheFieldsShowOrSaysWhyNot)
{
    const struct {
        UINT codePage;
        std::wstring windowsText, unixText; // as typed or pasted
        std::vector<std::string> opened;    // the names the probe got
        const char *told;
    } cases[] = {
        {CP_ACP, L"C:\\plain.txt", L" unix.txt", {"C:\\plain.txt", " unix.txt"}, kNeitherOrBoth},
        // As Explorer's "Copy as path" puts it; a lone quote is no pair, nor
        // is one at the start alone.
        {CP_ACP, L"\"C:\\quoted.txt\"", L"\"", {"C:\\quoted.txt", "\""}, kNeitherOrBoth},
        {CP_ACP, L"\"C:\\dir\\a.txt", L"b.txt", {}, kCannotUse}, // kept whole, its colon is no drive's
        // A colon after a drive letter at the start is the only one a name
        // may have; any other names a stream, of the source itself here.
        {CP_ACP, L"\\\\?\\C:\\a.txt", L"c:b.txt", {"\\\\?\\C:\\a.txt", "c:b.txt"}, kNeitherOrBoth},
        {CP_ACP, L"C:\\logs\\notes.txt", L"C:\\logs\\run-10:30.log", {}, kCannotUse},
        {CP_ACP, L"notes.txt:copy", L"notes.txt", {}, kCannotUse},
        {CP_ACP, L"C:\\plain.txt", L"D:\\typed-\u0142.txt", {}, kCannotUse},
        // 260 bytes, at two bytes for each あ.
        {932, L"C:\\" + std::wstring(126, L'\u3042') + L"a.txt", L"", {}, kTooLongNotUsed},
    };
    g_realCreateFile = (CreateFileFunction)ReplaceImport("kernel32.dll", "CreateFileA", (void *)CreateFileNoted);
    g_realWideToAnsi = (WideToAnsiFunction)ReplaceImport("kernel32.dll", "WideCharToMultiByte", (void *)WideToAnsiIn);
    ASSERT_TRUE(g_realCreateFile != NULL && g_realWideToAnsi != NULL);
    for (const auto &c : cases) {
        SetDlgItemTextW(dialog_, IDC_WINDOWS_PATH, c.windowsText.c_str());
        SetDlgItemTextW(dialog_, IDC_UNIX_PATH, c.unixText.c_str());
        g_opened.clear();
        g_codePage = c.codePage;
        BeginMessageCapture();
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
        ExpectOneWarning(EndMessageCapture(), c.told, dialog_);
        g_codePage = CP_ACP;
        EXPECT_EQ(g_opened, c.opened) << c.told;
        WCHAR kept[300] = L"";
        GetDlgItemTextW(dialog_, IDC_UNIX_PATH, kept, 300);
        EXPECT_EQ(std::wstring(kept), c.unixText) << "the field changed";
    }
    ReplaceImport("kernel32.dll", "CreateFileA", (void *)g_realCreateFile);
    ReplaceImport("kernel32.dll", "WideCharToMultiByte", (void *)g_realWideToAnsi);
}

// The conversion's read, which notes the pointer; meanwhile the user,
// impatient, presses Enter and clicks Convert.
typedef BOOL(WINAPI *ReadFileFunction)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
ReadFileFunction g_realReadFile = NULL;
HCURSOR g_cursorWhileReading = NULL;
HWND g_pressedWhileReading = NULL;
void PressConvertAgain(HWND dialog)
{
    PostMessageA(GetDlgItem(dialog, IDC_UNIX_PATH), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(GetDlgItem(dialog, IDC_CONVERT), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageA(GetDlgItem(dialog, IDC_CONVERT), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
}
BOOL WINAPI ReadFileNotingTheCursor(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    g_cursorWhileReading = GetCursor();
    if (g_pressedWhileReading != NULL)
        PressConvertAgain(g_pressedWhileReading);
    g_pressedWhileReading = NULL;
    return g_realReadFile(file, buffer, size, read, overlapped);
}

// The message about the work, as it shows: whether a key or a click made
// while the work ran still waits to answer it.
typedef int(WINAPI *MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);
MessageBoxFunction g_realMessageBox = NULL;
bool g_inputWaitedForTheMessage = false;
int WINAPI MessageBoxNotingWaitingInput(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    MSG waiting;
    g_inputWaitedForTheMessage = PeekMessageA(&waiting, NULL, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE) ||
                                 PeekMessageA(&waiting, NULL, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE);
    return g_realMessageBox(owner, text, caption, type);
}

TEST_F(MainDialog, ThePointerIsBusyWhileConvertWorksAndPressesMeanwhileAreDropped)
{
    const std::filesystem::path dir = MakeTempDir();
    WriteBytes(dir / "unix.txt", "a\nb\n");
    SetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, Narrow(dir / "windows.txt").c_str());
    SetDlgItemTextA(dialog_, IDC_UNIX_PATH, Narrow(dir / "unix.txt").c_str());
    HCURSOR before = LoadCursorA(NULL, IDC_CROSS);
    SetCursor(before);
    g_realReadFile = (ReadFileFunction)ReplaceImport("kernel32.dll", "ReadFile", (void *)ReadFileNotingTheCursor);
    ASSERT_NE(g_realReadFile, (ReadFileFunction)NULL);
    g_pressedWhileReading = dialog_;
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    ReplaceImport("kernel32.dll", "ReadFile", (void *)g_realReadFile);
    EXPECT_EQ(g_cursorWhileReading, LoadCursorA(NULL, IDC_WAIT));
    EXPECT_EQ(GetCursor(), before);
    EXPECT_EQ(ReadBytes(dir / "windows.txt"), "a\r\nb\r\n");
    ExpectWarnings(RunQueue(dialog_), NULL, dialog_);
    // The same presses once it is done: the Enter finds both files there,
    // and the click, waiting behind it, goes with the input of that work.
    PressConvertAgain(dialog_);
    ExpectOneWarning(RunQueue(dialog_), kNeitherOrBoth, dialog_);

    // One that fails says so only once they are gone: an Enter typed ahead
    // would close the message unread.
    SetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, Narrow(dir / "missing" / "windows.txt").c_str());
    g_realReadFile = (ReadFileFunction)ReplaceImport("kernel32.dll", "ReadFile", (void *)ReadFileNotingTheCursor);
    g_realMessageBox =
        (MessageBoxFunction)ReplaceImport("user32.dll", "MessageBoxA", (void *)MessageBoxNotingWaitingInput);
    ASSERT_NE(g_realMessageBox, (MessageBoxFunction)NULL);
    g_pressedWhileReading = dialog_;
    BeginMessageCapture();
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    ExpectOneWarning(EndMessageCapture(), "File Conversion Error:\nCannot create the destination file");
    ReplaceImport("kernel32.dll", "ReadFile", (void *)g_realReadFile);
    ReplaceImport("user32.dll", "MessageBoxA", (void *)g_realMessageBox);
    EXPECT_FALSE(g_inputWaitedForTheMessage) << "a press made while the work ran could answer its message";
    ExpectWarnings(RunQueue(dialog_), NULL, dialog_);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// Active Accessibility's property service as the dialog uses it (IUnknown's
// three, then SetPropValue, SetPropServer, ClearProps, SetHwndProp and
// SetHwndPropStr): the accessible names it is given, and how often it is held.
std::vector<std::pair<HWND, std::wstring>> g_names;
int g_namesHeld = 0;
ULONG STDMETHODCALLTYPE NamesRelease(void *) { return --g_namesHeld; }
HRESULT STDMETHODCALLTYPE NamesSetHwndPropStr(void *, HWND control, DWORD object, DWORD child, GUID property,
                                              LPCWSTR words)
{
    const GUID kName = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
    if (object == (DWORD)OBJID_CLIENT && child == CHILDID_SELF && IsEqualGUID(property, kName))
        g_names.push_back({control, words});
    return S_OK;
}
void *g_namesMethods[] = {NULL, NULL, (void *)NamesRelease, NULL, NULL, NULL, NULL, (void *)NamesSetHwndPropStr};
void **g_namesObject = g_namesMethods;
HRESULT WINAPI CoCreateNames(REFCLSID type, LPUNKNOWN, DWORD, REFIID, LPVOID *object)
{
    const GUID kPropertyService = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
    if (!IsEqualGUID(type, kPropertyService))
        return REGDB_E_CLASSNOTREG;
    *object = &g_namesObject;
    ++g_namesHeld;
    return S_OK;
}

TEST_F(MainDialog, TheBrowseButtonsSayWhatTheyDoToTheMouseAndToScreenReaders)
{
    void *realCreate = ReplaceImport("ole32.dll", "CoCreateInstance", (void *)CoCreateNames);
    ASSERT_NE(realCreate, (void *)NULL);
    HWND dialog = CreateDialogParamA(templates_, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0);
    ReplaceImport("ole32.dll", "CoCreateInstance", realCreate);
    EXPECT_EQ(g_namesHeld, 0) << "the property service was not released";
    const std::vector<std::pair<HWND, std::wstring>> expected = {
        {GetDlgItem(dialog, IDC_BROWSE_WINDOWS), L"Choose the Windows text file"},
        {GetDlgItem(dialog, IDC_BROWSE_UNIX), L"Choose the Unix text file"}};
    EXPECT_EQ(g_names, expected);
    HWND tooltip = NULL;
    while ((tooltip = FindWindowExA(NULL, tooltip, TOOLTIPS_CLASSA, NULL)) != NULL &&
           GetWindow(tooltip, GW_OWNER) != dialog) {
    }
    for (const auto &e : expected) {
        WCHAR text[80] = L"";
        TOOLINFOW tool = {TTTOOLINFOW_V1_SIZE, 0, dialog, (UINT_PTR)e.first, {0, 0, 0, 0}, NULL, text, 0, NULL};
        EXPECT_TRUE(SendMessageW(tooltip, TTM_GETTOOLINFOW, 0, (LPARAM)&tool)) << "no tooltip on the button";
        EXPECT_EQ(tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS), (UINT)(TTF_IDISHWND | TTF_SUBCLASS));
        SendMessageW(tooltip, TTM_GETTEXTW, 0, (LPARAM)&tool);
        EXPECT_EQ(std::wstring(text), e.second);
    }
    DestroyWindow(dialog);
}

TEST_F(MainDialog, AboutBoxThatCannotBeCreatedIsReported)
{
    // This program carries no About template, so the box cannot be made.
    BeginMessageCapture();
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);
    const auto messages = EndMessageCapture();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Dialog failed!");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].style, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(messages[0].owner, dialog_);
    EXPECT_TRUE(IsWindow(dialog_));
}

TEST(Entry, MainWindowThatCannotBeCreatedIsReportedAndEndsWithZero)
{
    BeginMessageCapture();
    const int code = WinMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWNORMAL);
    const auto messages = EndMessageCapture();
    EXPECT_EQ(code, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Create Window Failed!");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].style, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(messages[0].owner, (HWND)NULL);
}

// A helper process, a copy of this program beside a planted msimg32.dll,
// loads msimg32 by bare name as Windows' own DLLs do: without the guard,
// after it, or after it on a Windows without SetDefaultDllDirectories. The
// exit code says which copy came: 0 the planted one, 1 the one in the system
// folder (kernel32's), 2 another or none. Given a folder, it makes that the
// current folder and loads from there a planted DLL of a name the system
// lacks: 3 when it came.
typedef FARPROC(WINAPI *GetProcAddressFunction)(HMODULE, LPCSTR);
GetProcAddressFunction g_realGetProcAddress = NULL;
const char kPlantedInCurrentFolder[] = "pelmora-planted.dll";
// Windows takes the current folder out of the search for SetDllDirectory("");
// Wine keeps it there, but leaves it out once a folder is named, so an empty
// one is named instead.
std::string g_emptyFolder;
BOOL WINAPI SetDllDirectoryAsWindowsDoes(LPCSTR folder)
{
    return SetDllDirectoryA(folder != NULL && folder[0] == '\0' ? g_emptyFolder.c_str() : folder);
}
FARPROC WINAPI GetProcAddressOfAnOlderWindows(HMODULE module, LPCSTR name)
{
    const bool named = HIWORD((ULONG_PTR)name) != 0;
    if (named && std::strcmp(name, "SetDllDirectoryA") == 0)
        return (FARPROC)(void (*)(void))SetDllDirectoryAsWindowsDoes;
    return named && std::strcmp(name, "SetDefaultDllDirectories") == 0 ? NULL : g_realGetProcAddress(module, name);
}

std::string FolderOf(HMODULE module)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    return std::filesystem::path(path).parent_path().string();
}

int LoadPlantedNameByBareName(const std::string &guard, const char *currentFolder)
{
    g_emptyFolder = FolderOf(NULL) + "\\no-dlls";
    if (guard == "older-windows")
        g_realGetProcAddress = (GetProcAddressFunction)ReplaceImport("kernel32.dll", "GetProcAddress",
                                                                     (void *)GetProcAddressOfAnOlderWindows);
    if (currentFolder != NULL)
        SetCurrentDirectoryA(currentFolder);
    if (guard != "none")
        RestrictDllSearch();
    HMODULE loaded = LoadLibraryA(currentFolder != NULL ? kPlantedInCurrentFolder : "msimg32.dll");
    const std::string folder = loaded != NULL ? FolderOf(loaded) : "";
    if (currentFolder != NULL)
        return loaded != NULL && lstrcmpiA(folder.c_str(), currentFolder) == 0 ? 3 : 2;
    return lstrcmpiA(folder.c_str(), FolderOf(NULL).c_str()) == 0                           ? 0
           : lstrcmpiA(folder.c_str(), FolderOf(GetModuleHandleA("kernel32.dll")).c_str()) == 0 ? 1
                                                                                                 : 2;
}

TEST(DllSearch, APlantedDllIsTakenOnlyWithoutTheGuard)
{
    const std::filesystem::path dir = MakeTempDir();
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, MAX_PATH);
    const std::string copy = Narrow(dir / "pelmora_ui_tests.exe");
    const std::string planted = FolderOf(NULL) + "\\planted\\msimg32.dll";
    std::filesystem::create_directories(dir / "no-dlls");
    std::filesystem::create_directories(dir / "current");
    ASSERT_TRUE(CopyFileA(self, copy.c_str(), TRUE));
    ASSERT_TRUE(CopyFileA(planted.c_str(), Narrow(dir / "msimg32.dll").c_str(), TRUE));
    ASSERT_TRUE(CopyFileA(planted.c_str(), Narrow(dir / "current" / kPlantedInCurrentFolder).c_str(), TRUE));
    // Wine takes its own msimg32 before one beside the program unless told
    // otherwise; Windows takes the one beside it, which this makes Wine do.
    char overrides[512] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    SetEnvironmentVariableA("WINEDLLOVERRIDES", (std::string(overrides) + ";msimg32=n,b").c_str());
    const std::string current = " \"" + Narrow(dir / "current") + "\"";
    const struct {
        std::string arguments;
        DWORD code;
    } cases[] = {{"none", 0}, {"guard", 1}, {"older-windows", 1},
                 {"none" + current, 3}, {"guard" + current, 2}, {"older-windows" + current, 2}};
    for (const auto &c : cases) {
        PROCESS_INFORMATION helper;
        ASSERT_TRUE(StartTiedProcess(copy, "--load-planted-name " + c.arguments, &helper));
        DWORD code = 0xFFFFFFFFu;
        EXPECT_EQ(WaitForSingleObject(helper.hProcess, 30000), WAIT_OBJECT_0) << c.arguments;
        GetExitCodeProcess(helper.hProcess, &code);
        EXPECT_EQ(code, c.code) << c.arguments << ": 0 is the copy beside the program, 1 the system's, 3 the current "
                                                  "folder's";
        TerminateProcess(helper.hProcess, 1);
        CloseHandle(helper.hThread);
        CloseHandle(helper.hProcess);
    }
    SetEnvironmentVariableA("WINEDLLOVERRIDES", overrides[0] != '\0' ? overrides : NULL);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace

int main(int argc, char **argv)
{
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--load-planted-name")
        return LoadPlantedNameByBareName(argv[2], argc == 4 ? argv[3] : NULL);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
