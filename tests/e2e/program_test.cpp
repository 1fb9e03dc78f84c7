// The real Pelmora.exe, started and driven from this process as a user would.
#include "app_driver.h"
#include "reference_line_endings.h"
#include "resource.h"
#include "temp_dir.h"
#include "win32_test_tools.h"

#include <gtest/gtest.h>

#include <commdlg.h>
#include <dlgs.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

const char kNeitherOrBoth[] = "Neither (or both) of the files\nyou specified exists.";

class Program : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = MakeTempDir();
        ASSERT_TRUE(StartApp(&app_)) << "the window did not appear";
    }
    void TearDown() override
    {
        StopApp(&app_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Name(const std::string &name) const { return Narrow(dir_ / name); }

    // Presses Convert and returns the one message box it showed, closed
    // again, or an empty message when it showed none.
    ShownMessage ConvertAndReadMessage()
    {
        Press(app_, IDC_CONVERT);
        if (!Settle(app_)) {
            ADD_FAILURE() << "the program did not come back to a message loop after Convert";
            return ShownMessage{NULL, "(no answer)", "", 0};
        }
        HWND box = FindMessageBox(app_);
        if (box == NULL)
            return ShownMessage{NULL, "", "", 0};
        ShownMessage message = ReadMessageBox(box);
        EXPECT_TRUE(CloseDialogWith(box, IDOK));
        EXPECT_TRUE(Settle(app_));
        EXPECT_EQ(FindMessageBox(app_), (HWND)NULL) << "a second message followed";
        return message;
    }

    App app_;
    fs::path dir_;
};

TEST_F(Program, WindowStartsWithFocusAndFieldLimits)
{
    EXPECT_TRUE(GetWindowLongA(app_.main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) << "Explorer cannot drop files on it";
    GUITHREADINFO thread;
    ZeroMemory(&thread, sizeof thread);
    thread.cbSize = sizeof thread;
    ASSERT_TRUE(GetGUIThreadInfo(app_.process.dwThreadId, &thread));
    EXPECT_EQ(thread.hwndFocus, GetDlgItem(app_.main, IDC_WINDOWS_PATH));

    // Typing stops at 259 characters, all of which Convert can read back.
    for (int field : {IDC_WINDOWS_PATH, IDC_UNIX_PATH}) {
        HWND edit = GetDlgItem(app_.main, field);
        EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 259);
        for (int i = 0; i < 270; ++i)
            SendMessageA(edit, WM_CHAR, 'a', 1);
        EXPECT_EQ(GetField(app_, field), std::string(259, 'a'));
    }
}

TEST_F(Program, ConvertWritesTheOtherFileSilentlyThenRefusesToOverwrite)
{
    WriteBytes(Name("notes.txt"), "one\r\ntwo\r\nlone\rcr\r\n");
    SetField(app_, IDC_WINDOWS_PATH, Name("notes.txt"));
    SetField(app_, IDC_UNIX_PATH, Name("notes-unix.txt"));

    EXPECT_EQ(ConvertAndReadMessage().text, "");
    EXPECT_EQ(ReadBytes(Name("notes-unix.txt")), "one\ntwo\nlone\rcr\n");
    EXPECT_FALSE(fs::exists(Name("notes-unix.txt:Zone.Identifier"))) << "a mark the source did not have";
    EXPECT_EQ(GetField(app_, IDC_WINDOWS_PATH), Name("notes.txt"));
    EXPECT_EQ(GetField(app_, IDC_UNIX_PATH), Name("notes-unix.txt"));

    // Both files exist now: the warning, owned by the window, and no change.
    const ShownMessage message = ConvertAndReadMessage();
    EXPECT_EQ(message.text, kNeitherOrBoth);
    EXPECT_EQ(message.caption, "Error");
    EXPECT_EQ(message.style, MB_OK | MB_ICONWARNING);
    EXPECT_EQ(message.owner, app_.main);
    EXPECT_EQ(ReadBytes(Name("notes-unix.txt")), "one\ntwo\nlone\rcr\n");
}

TEST_F(Program, ADownloadedFileKeepsItsMarkOfTheWeb)
{
    // Wine keeps the mark as a file of the stream's name, beside the file.
    WriteBytes(Name("script.sh"), "echo one\n");
    WriteBytes(Name("script.sh:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n");
    SetField(app_, IDC_WINDOWS_PATH, Name("script.cmd"));
    SetField(app_, IDC_UNIX_PATH, Name("script.sh"));
    EXPECT_EQ(ConvertAndReadMessage().text, "");
    EXPECT_EQ(ReadBytes(Name("script.cmd")), "echo one\r\n");
    EXPECT_EQ(ReadBytes(Name("script.cmd:Zone.Identifier")), "[ZoneTransfer]\r\nZoneId=3\r\n");
}

TEST_F(Program, Utf16TextConvertsBothWaysInItsOwnUnits)
{
    // As Notepad saves "Unicode": the byte-order mark, then UTF-16LE. U+010A holds the
    // byte 0A, which must not be taken for an LF.
    const std::string windowsText = Utf16(false, u"\uFEFFline one\r\nline two \u010A\r\n");
    const std::string unixText = Utf16(false, u"\uFEFFline one\nline two \u010A\n");
    WriteBytes(Name("notepad.txt"), windowsText);
    SetField(app_, IDC_WINDOWS_PATH, Name("notepad.txt"));
    SetField(app_, IDC_UNIX_PATH, Name("unix.txt"));
    EXPECT_EQ(ConvertAndReadMessage().text, "");
    EXPECT_EQ(ReadBytes(Name("unix.txt")), unixText);

    SetField(app_, IDC_WINDOWS_PATH, Name("back.txt"));
    EXPECT_EQ(ConvertAndReadMessage().text, "");
    EXPECT_EQ(ReadBytes(Name("back.txt")), windowsText);
}

TEST_F(Program, PathsAsLongAsTheFieldsAllowConvert)
{
    // 259 characters, the most a field takes, name exactly these files.
    std::string source = Name("s-");
    source += std::string(259 - source.size() - 4, 's') + ".txt";
    std::string destination = Name("d-");
    destination += std::string(259 - destination.size() - 4, 'd') + ".txt";
    ASSERT_EQ(source.size(), 259u);
    WriteBytes(source, "x\r\ny\r\n");
    SetField(app_, IDC_WINDOWS_PATH, source);
    SetField(app_, IDC_UNIX_PATH, destination);
    EXPECT_EQ(ConvertAndReadMessage().text, "");
    EXPECT_EQ(ReadBytes(destination), "x\ny\n");
}

TEST_F(Program, EnterConvertsAndEscapeLeavesTheWindowOpen)
{
    WriteBytes(Name("from-unix.txt"), std::string("a\nb\n\x8A\x8D", 6));
    SetField(app_, IDC_WINDOWS_PATH, Name("to-windows.txt"));
    SetField(app_, IDC_UNIX_PATH, Name("from-unix.txt"));
    HWND unixField = GetDlgItem(app_.main, IDC_UNIX_PATH);
    PressKey(unixField, VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(Name("to-windows.txt")).has_value(); }, 10000));
    ASSERT_TRUE(Settle(app_));
    EXPECT_EQ(FindMessageBox(app_), (HWND)NULL);
    EXPECT_EQ(ReadBytes(Name("to-windows.txt")), std::string("a\r\nb\r\n\x8A\x8D", 8));

    // Esc, then a typed character: once the character shows, Esc has been
    // handled too, and the window must still be there.
    PressKey(unixField, VK_ESCAPE);
    PostMessageA(unixField, WM_CHAR, 'z', 1);
    EXPECT_TRUE(WaitUntil([&] { return GetField(app_, IDC_UNIX_PATH).find('z') != std::string::npos; }, 10000));
    Press(app_, IDCANCEL);
    ASSERT_TRUE(Settle(app_));
    EXPECT_EQ(WaitForExit(&app_, 0), -1) << "Esc closed the window";
    EXPECT_TRUE(IsWindowVisible(app_.main));
}

TEST_F(Program, ConverterFailureIsReportedWithoutOwner)
{
    WriteBytes(Name("source.txt"), "x\r\n");
    SetField(app_, IDC_WINDOWS_PATH, Name("source.txt"));
    SetField(app_, IDC_UNIX_PATH, Name("missing-folder\\out.txt"));
    const ShownMessage message = ConvertAndReadMessage();
    EXPECT_EQ(message.text, "File Conversion Error:\nCannot create the destination file");
    EXPECT_EQ(message.caption, "Error");
    EXPECT_EQ(message.style, MB_OK | MB_ICONWARNING);
    EXPECT_EQ(message.owner, (HWND)NULL);
    EXPECT_EQ(ReadBytes(Name("source.txt")), "x\r\n");

    // Both fields empty.
    SetField(app_, IDC_WINDOWS_PATH, "");
    SetField(app_, IDC_UNIX_PATH, "");
    EXPECT_EQ(ConvertAndReadMessage().text, kNeitherOrBoth);
}

TEST_F(Program, AFileDroppedOnTheWindowFillsTheFieldNearerThePointer)
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == NULL)
        GTEST_SKIP() << "the drop is made in the program's memory, not as a global memory block, which only "
                        "Wine's DragFinish frees without harm";
    // The pointer over the Unix field; the drop's own point, which a scaled
    // display puts in the dropping program's pixels, over the Windows field.
    RECT field;
    GetWindowRect(GetDlgItem(app_.main, IDC_UNIX_PATH), &field);
    ASSERT_TRUE(MovePointerTo({(field.left + field.right) / 2, (field.top + field.bottom) / 2}));
    GetWindowRect(GetDlgItem(app_.main, IDC_WINDOWS_PATH), &field);
    MapWindowPoints(NULL, app_.main, (POINT *)&field, 2);
    const POINT point = {(field.left + field.right) / 2, (field.top + field.bottom) / 2};
    const std::string name = Name("dropped.txt");
    const std::vector<unsigned char> block = DropFilesBlock(point, false, {std::wstring(name.begin(), name.end())});
    void *drop = VirtualAllocEx(app_.process.hProcess, NULL, block.size(), MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(drop, (void *)NULL);
    ASSERT_TRUE(WriteProcessMemory(app_.process.hProcess, drop, block.data(), block.size(), NULL));
    PostMessageA(app_.main, WM_DROPFILES, (WPARAM)drop, 0);
    ASSERT_TRUE(Settle(app_));
    EXPECT_EQ(GetField(app_, IDC_UNIX_PATH), name);
    EXPECT_EQ(GetField(app_, IDC_WINDOWS_PATH), "");
}

// The file dialog's name box: a combo box in the explorer style, an edit
// control in older ones.
HWND FileNameBox(HWND dialog)
{
    HWND box = GetDlgItem(dialog, cmb13);
    return box != NULL ? box : GetDlgItem(dialog, edt1);
}

// Both dialogs start on the text files and show no read-only box.
void ExpectTextFilesAndNoReadOnlyBox(HWND dialog)
{
    // Two filters, the first (the text files) chosen; indices need no
    // translation between this process and the dialog's Unicode window.
    HWND types = GetDlgItem(dialog, cmb1);
    EXPECT_EQ(SendMessageA(types, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(types, CB_GETCURSEL, 0, 0), 0);
    HWND readOnly = GetDlgItem(dialog, chx1);
    EXPECT_TRUE(readOnly == NULL || !IsWindowVisible(readOnly));
}

// Types a name into an open file dialog and confirms it.
void ChooseInFileDialog(HWND dialog, const std::string &name)
{
    HWND edit = FileNameBox(dialog);
    ASSERT_NE(edit, (HWND)NULL) << "no file name box";
    SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)name.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
}

// Opens the file as an editor that saves in place would, then as a delete
// would; the first error, or NO_ERROR when both were let through.
DWORD OpenForWritingOrDeleting(const std::string &path)
{
    const DWORD accesses[] = {GENERIC_WRITE, DELETE};
    for (DWORD access : accesses) {
        HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError();
        CloseHandle(file);
    }
    return NO_ERROR;
}

// Chooses a name the dialog takes as it is, and waits until it has closed
// and the program has filled in its field.
void ChooseAndWait(const App &app, HWND dialog, const std::string &name)
{
    ChooseInFileDialog(dialog, name);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));
    ASSERT_TRUE(Settle(app));
}

TEST_F(Program, BrowseOpensOrSavesByWhetherTheOtherFileExists)
{
    // The Unix field names nothing: browsing for the Windows file opens, and
    // cancelling keeps the field.
    SetField(app_, IDC_WINDOWS_PATH, "keep me");
    Press(app_, IDC_BROWSE_WINDOWS);
    HWND open = FindDialog(app_, "Open");
    ASSERT_NE(open, (HWND)NULL);
    EXPECT_EQ(GetWindow(open, GW_OWNER), app_.main);
    char startName[MAX_PATH] = "?";
    GetWindowTextA(FileNameBox(open), startName, MAX_PATH);
    EXPECT_STREQ(startName, "") << "the dialog starts with an empty name, not the field's";
    ExpectTextFilesAndNoReadOnlyBox(open);
    EXPECT_TRUE(CloseDialogWith(open, IDCANCEL));
    ASSERT_TRUE(Settle(app_));
    EXPECT_EQ(GetField(app_, IDC_WINDOWS_PATH), "keep me");

    // The Open dialog accepts a file that does not exist yet.
    Press(app_, IDC_BROWSE_UNIX);
    open = FindDialog(app_, "Open");
    ASSERT_NE(open, (HWND)NULL);
    ChooseAndWait(app_, open, Name("fresh.txt"));
    EXPECT_EQ(GetField(app_, IDC_UNIX_PATH), Name("fresh.txt"));

    // The Unix field names an existing file: browsing for the Windows file
    // saves. Picking an existing file asks nothing, since Convert will not
    // replace it: it says so instead, and leaves both files alone.
    WriteBytes(Name("fresh.txt"), "x\n");
    WriteBytes(Name("taken.txt"), "mine");
    Press(app_, IDC_BROWSE_WINDOWS);
    HWND save = FindDialog(app_, "Save As");
    ASSERT_NE(save, (HWND)NULL);
    ExpectTextFilesAndNoReadOnlyBox(save);
    // The file that made it a Save dialog stays open while the dialog is up,
    // so nobody can change or remove it under the user's choice.
    EXPECT_EQ(OpenForWritingOrDeleting(Name("fresh.txt")), (DWORD)ERROR_SHARING_VIOLATION);
    ChooseAndWait(app_, save, Name("taken.txt"));
    EXPECT_EQ(FindMessageBox(app_), (HWND)NULL) << "the Save dialog asked a question";
    EXPECT_EQ(GetField(app_, IDC_WINDOWS_PATH), Name("taken.txt"));
    EXPECT_EQ(OpenForWritingOrDeleting(Name("fresh.txt")), (DWORD)NO_ERROR) << "still held after the dialog";
    EXPECT_EQ(ConvertAndReadMessage().text, kNeitherOrBoth);
    EXPECT_EQ(ReadBytes(Name("taken.txt")), "mine");

    // Mirrored: the Windows field now names an existing file. A name typed
    // without an extension gets .txt.
    Press(app_, IDC_BROWSE_UNIX);
    save = FindDialog(app_, "Save As");
    ASSERT_NE(save, (HWND)NULL);
    ChooseAndWait(app_, save, Name("renamed"));
    EXPECT_EQ(GetField(app_, IDC_UNIX_PATH), Name("renamed.txt"));
    EXPECT_FALSE(fs::exists(Name("renamed.txt")));

    // Cancelling a Save dialog keeps the field too.
    Press(app_, IDC_BROWSE_UNIX);
    save = FindDialog(app_, "Save As");
    ASSERT_NE(save, (HWND)NULL);
    EXPECT_TRUE(CloseDialogWith(save, IDCANCEL));
    ASSERT_TRUE(Settle(app_));
    EXPECT_EQ(GetField(app_, IDC_UNIX_PATH), Name("renamed.txt"));
}

TEST_F(Program, AboutBoxIsModalAndClosesOnlyByOkOrTheCloseBox)
{
    for (int way = 0; way < 2; ++way) {
        Press(app_, IDC_ABOUT);
        HWND about = FindDialog(app_, "About This Program");
        ASSERT_NE(about, (HWND)NULL);
        EXPECT_EQ(GetWindow(about, GW_OWNER), app_.main);
        EXPECT_FALSE(IsWindowEnabled(app_.main));
        GUITHREADINFO thread;
        ZeroMemory(&thread, sizeof thread);
        thread.cbSize = sizeof thread;
        ASSERT_TRUE(GetGUIThreadInfo(app_.process.dwThreadId, &thread));
        EXPECT_EQ(thread.hwndFocus, GetDlgItem(about, IDOK)) << "the About box opens with the focus on OK";
        char text[256] = "";
        for (HWND child = GetWindow(about, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[32] = "";
            GetClassNameA(child, className, sizeof className);
            if (lstrcmpiA(className, "Static") == 0)
                GetWindowTextA(child, text, sizeof text);
        }
        EXPECT_EQ(std::string(text).substr(0, 9), "Pelmora\r\n");

        // Esc, delivered as the keyboard does and as the command it becomes.
        // A posted highlight of OK after the key shows when the key is done.
        HWND ok = GetDlgItem(about, IDOK);
        PressKey(ok, VK_ESCAPE);
        PostMessageA(ok, BM_SETSTATE, TRUE, 0);
        EXPECT_TRUE(WaitUntil([&] { return (SendMessageA(ok, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }, 10000));
        SendMessageA(ok, BM_SETSTATE, FALSE, 0);
        SendNotifyMessageA(about, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(Settle(app_));
        EXPECT_TRUE(IsWindow(about) && IsWindowVisible(about)) << "Esc closed the About box";

        if (way == 0)
            EXPECT_TRUE(CloseDialogWith(about, IDOK));
        else
            PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 10000));
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(app_.main) != FALSE; }, 5000));
    }
}

TEST_F(Program, ExitEndsTheProgramWithZero)
{
    Press(app_, IDC_EXIT);
    EXPECT_EQ(WaitForExit(&app_, 10000), 0);
}

TEST_F(Program, CloseBoxEndsTheProgramWithZero)
{
    PostMessageA(app_.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitForExit(&app_, 10000), 0);
}

} // namespace
