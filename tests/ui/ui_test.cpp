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

#include <cstdlib>
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

TEST_F(MainDialog, StartsWithTheFocusOnTheWindowsField)
{
    // Made hidden, so that no activation hands out the focus: only the
    // procedure's answer to WM_INITDIALOG can.
    HRSRC found = FindResourceA(templates_, MAKEINTRESOURCEA(IDD_MAIN), (LPCSTR)RT_DIALOG);
    const BYTE *bytes = (const BYTE *)LockResource(LoadResource(templates_, found));
    std::vector<BYTE> hiddenTemplate(bytes, bytes + SizeofResource(templates_, found));
    ((DLGTEMPLATE *)hiddenTemplate.data())->style &= ~WS_VISIBLE;
    SetFocus(NULL);
    HWND hidden = CreateDialogIndirectParamA(templates_, (LPCDLGTEMPLATEA)hiddenTemplate.data(), NULL,
                                             MainDialogProc, 0);
    EXPECT_EQ(GetFocus(), GetDlgItem(hidden, IDC_WINDOWS_PATH));
    DestroyWindow(hidden);
}

// What the program asked the file dialog for; the stand-in dialogs cancel.
const char *g_dialogShown = NULL;
OPENFILENAMEA g_dialogAsked;
std::string g_nameOffered;

BOOL WINAPI OpenDialogCancelled(LPOPENFILENAMEA record)
{
    g_dialogShown = "Open";
    g_dialogAsked = *record;
    g_nameOffered = record->lpstrFile;
    return FALSE;
}

BOOL WINAPI SaveDialogCancelled(LPOPENFILENAMEA record)
{
    g_dialogShown = "Save";
    g_dialogAsked = *record;
    g_nameOffered = record->lpstrFile;
    return FALSE;
}

TEST_F(MainDialog, BrowseAsksForExplorerDialogsOnTextFilesAndClosesWhatItOpened)
{
    void *realOpen = ReplaceImport("comdlg32.dll", "GetOpenFileNameA", (void *)OpenDialogCancelled);
    void *realSave = ReplaceImport("comdlg32.dll", "GetSaveFileNameA", (void *)SaveDialogCancelled);
    ASSERT_NE(realOpen, (void *)NULL);
    ASSERT_NE(realSave, (void *)NULL);
    const std::filesystem::path dir = MakeTempDir();
    WriteBytes(dir / "exists.txt", "x\n");
    const char filter[] = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    const struct {
        int button, target, other;
        const char *otherName, *dialog;
        DWORD flags;
    } cases[] = {
        {IDC_BROWSE_WINDOWS, IDC_WINDOWS_PATH, IDC_UNIX_PATH, "missing.txt", "Open", OFN_EXPLORER | OFN_HIDEREADONLY},
        {IDC_BROWSE_UNIX, IDC_UNIX_PATH, IDC_WINDOWS_PATH, "exists.txt", "Save", OFN_EXPLORER | OFN_HIDEREADONLY},
    };
    for (const auto &c : cases) {
        SetDlgItemTextA(dialog_, c.target, "keep me");
        SetDlgItemTextA(dialog_, c.other, Narrow(dir / c.otherName).c_str());
        g_dialogShown = NULL;
        const unsigned long before = OpenHandleCount();
        ASSERT_GT(before, 0ul) << "cannot count this process's handles";
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), 0);
        EXPECT_EQ(OpenHandleCount(), before) << "a handle stayed open after the " << c.dialog << " dialog";
        ASSERT_NE(g_dialogShown, (const char *)NULL);
        EXPECT_STREQ(g_dialogShown, c.dialog);
        EXPECT_EQ(g_dialogAsked.lStructSize, 76u);
        EXPECT_EQ(g_dialogAsked.hwndOwner, dialog_);
        EXPECT_EQ(g_dialogAsked.Flags, c.flags) << std::hex << g_dialogAsked.Flags;
        EXPECT_EQ(std::memcmp(g_dialogAsked.lpstrFilter, filter, sizeof filter), 0);
        EXPECT_EQ(g_dialogAsked.nFilterIndex, 0u) << "the dialog starts on the first filter, the text files";
        EXPECT_EQ(g_dialogAsked.nMaxFile, 260u);
        EXPECT_STREQ(g_dialogAsked.lpstrDefExt, "txt");
        EXPECT_EQ(g_nameOffered, "") << "the dialog starts with an empty name";
        EXPECT_EQ(g_dialogAsked.lpstrInitialDir, (LPCSTR)NULL);
        EXPECT_EQ(g_dialogAsked.lpfnHook, (LPOFNHOOKPROC)NULL);
        char kept[16] = "";
        GetDlgItemTextA(dialog_, c.target, kept, sizeof kept);
        EXPECT_STREQ(kept, "keep me") << "cancelling changed the field";
    }
    ReplaceImport("comdlg32.dll", "GetOpenFileNameA", realOpen);
    ReplaceImport("comdlg32.dll", "GetSaveFileNameA", realSave);
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

TEST_F(MainDialog, ADroppedFileGoesWholeIntoTheFieldNearerTheDrop)
{
    const char kCannotUse[] = "This file name has characters that Pelmora cannot use.";
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'n') + L".txt";
    const struct {
        int at;       // the drop point is this control's centre
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
        {IDC_UNIX_PATH, false, {tooLong}, IDC_UNIX_PATH, "keep", kTooLong},
        // Best fit would make the division slash a '/', and so name another file.
        {IDC_WINDOWS_PATH, false, {L"C:\\a\u2215b.txt"}, IDC_WINDOWS_PATH, "keep", kCannotUse},
    };
    for (const auto &c : cases) {
        SetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, "keep");
        SetDlgItemTextA(dialog_, IDC_UNIX_PATH, "keep");
        RECT rect;
        GetWindowRect(GetDlgItem(dialog_, c.at), &rect);
        MapWindowPoints(NULL, dialog_, (POINT *)&rect, 2);
        const POINT point = {(rect.left + rect.right) / 2, c.caption ? -8 : (rect.top + rect.bottom) / 2};
        const std::vector<unsigned char> block = DropFilesBlock(point, c.caption, c.names);
        HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE, block.size());
        std::memcpy(GlobalLock(drop), block.data(), block.size());
        GlobalUnlock(drop);
        BeginMessageCapture();
        SendMessageA(dialog_, WM_DROPFILES, (WPARAM)drop, 0);
        const std::vector<CapturedMessage> told = EndMessageCapture();
        EXPECT_EQ(GlobalSize(drop), 0u) << "DragFinish was not called";
        char windowsText[300] = "", unixText[300] = "";
        GetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, windowsText, sizeof windowsText);
        GetDlgItemTextA(dialog_, IDC_UNIX_PATH, unixText, sizeof unixText);
        EXPECT_STREQ(c.field == IDC_WINDOWS_PATH ? windowsText : unixText, c.text) << c.at;
        EXPECT_STREQ(c.field == IDC_WINDOWS_PATH ? unixText : windowsText, "keep") << c.at;
        if (c.told != NULL)
            ExpectOneWarning(told, c.told, dialog_);
        else
            EXPECT_TRUE(told.empty()) << told[0].text;
    }
}

typedef BOOL(WINAPI *ReadFileFunction)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
ReadFileFunction g_realReadFile = NULL;
HCURSOR g_cursorWhileReading = NULL;
BOOL WINAPI ReadFileNotingTheCursor(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    g_cursorWhileReading = GetCursor();
    return g_realReadFile(file, buffer, size, read, overlapped);
}

TEST_F(MainDialog, ThePointerIsBusyWhileConvertWorksAndComesBackAfter)
{
    const std::filesystem::path dir = MakeTempDir();
    WriteBytes(dir / "unix.txt", "a\nb\n");
    SetDlgItemTextA(dialog_, IDC_WINDOWS_PATH, Narrow(dir / "windows.txt").c_str());
    SetDlgItemTextA(dialog_, IDC_UNIX_PATH, Narrow(dir / "unix.txt").c_str());
    HCURSOR before = LoadCursorA(NULL, IDC_CROSS);
    SetCursor(before);
    g_realReadFile = (ReadFileFunction)ReplaceImport("kernel32.dll", "ReadFile", (void *)ReadFileNotingTheCursor);
    ASSERT_NE(g_realReadFile, (ReadFileFunction)NULL);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    ReplaceImport("kernel32.dll", "ReadFile", (void *)g_realReadFile);
    EXPECT_EQ(g_cursorWhileReading, LoadCursorA(NULL, IDC_WAIT));
    EXPECT_EQ(GetCursor(), before);
    EXPECT_EQ(ReadBytes(dir / "windows.txt"), "a\r\nb\r\n");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
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
// loads msimg32 by bare name as Windows' own DLLs do: without the guard, after
// it, or after it on a Windows without SetDefaultDllDirectories. The exit
// code says which copy came: 0 the planted one, 1 the system folder's (that
// is, kernel32's folder), 2 neither, 3 one was loaded before it could look.
const char kPlantedName[] = "msimg32.dll";

typedef FARPROC(WINAPI *GetProcAddressFunction)(HMODULE, LPCSTR);
GetProcAddressFunction g_realGetProcAddress = NULL;
FARPROC WINAPI GetProcAddressOfAnOlderWindows(HMODULE module, LPCSTR name)
{
    if (HIWORD((ULONG_PTR)name) != 0 && std::strcmp(name, "SetDefaultDllDirectories") == 0)
        return NULL;
    return g_realGetProcAddress(module, name);
}

std::string FolderOf(HMODULE module)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    const char *slash = std::strrchr(path, '\\');
    return std::string(path, slash != NULL ? (size_t)(slash - path) : 0);
}

int LoadPlantedNameByBareName(const std::string &guard)
{
    if (GetModuleHandleA(kPlantedName) != NULL)
        return 3;
    if (guard == "older-windows")
        g_realGetProcAddress = (GetProcAddressFunction)ReplaceImport("kernel32.dll", "GetProcAddress",
                                                                     (void *)GetProcAddressOfAnOlderWindows);
    if (guard != "none")
        RestrictDllSearch();
    HMODULE loaded = LoadLibraryA(kPlantedName);
    if (loaded == NULL)
        return 2;
    if (lstrcmpiA(FolderOf(loaded).c_str(), FolderOf(NULL).c_str()) == 0)
        return 0;
    return lstrcmpiA(FolderOf(loaded).c_str(), FolderOf(GetModuleHandleA("kernel32.dll")).c_str()) == 0 ? 1 : 2;
}

TEST(DllSearch, APlantedDllIsTakenOnlyWithoutTheGuard)
{
    const std::filesystem::path dir = MakeTempDir();
    const std::string self = FolderOf(NULL);
    char program[MAX_PATH] = "";
    GetModuleFileNameA(NULL, program, MAX_PATH);
    const std::string copy = Narrow(dir / "pelmora_ui_tests.exe");
    ASSERT_TRUE(CopyFileA(program, copy.c_str(), TRUE));
    ASSERT_TRUE(CopyFileA((self + "\\planted\\" + kPlantedName).c_str(), Narrow(dir / kPlantedName).c_str(), TRUE));
    // Wine takes its own msimg32 before one beside the program unless told
    // otherwise; Windows takes the one beside it, which this makes Wine do.
    char overrides[512] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    SetEnvironmentVariableA("WINEDLLOVERRIDES", (std::string(overrides) + ";msimg32=n,b").c_str());
    const struct {
        const char *guard;
        DWORD from;
    } cases[] = {{"none", 0}, {"guard", 1}, {"older-windows", 1}};
    for (const auto &c : cases) {
        PROCESS_INFORMATION helper;
        ASSERT_TRUE(StartTiedProcess(copy, std::string("--load-planted-name ") + c.guard, &helper));
        DWORD code = 0xFFFFFFFFu;
        EXPECT_EQ(WaitForSingleObject(helper.hProcess, 30000), WAIT_OBJECT_0) << c.guard;
        GetExitCodeProcess(helper.hProcess, &code);
        EXPECT_EQ(code, c.from) << c.guard << ": 0 is the planted copy, 1 the system's";
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
    if (argc == 3 && std::string(argv[1]) == "--load-planted-name")
        return LoadPlantedNameByBareName(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
