// The window's procedures in this process: the icons they set, the file
// dialogs they ask for, and the messages shown when a dialog cannot be
// created.
#include "message_capture.h"
#include "pelmora_path_win32.h"
#include "resource.h"
#include "temp_dir.h"
#include "ui.h"
#include "win32_test_tools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
        {IDC_BROWSE_UNIX, IDC_UNIX_PATH, IDC_WINDOWS_PATH, "exists.txt", "Save",
         OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT},
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

} // namespace
