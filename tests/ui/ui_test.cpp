// The window's procedures in this process: the icons they set, and the
// messages shown when a dialog cannot be created.
#include "message_capture.h"
#include "pelmora_path_win32.h"
#include "resource.h"
#include "ui.h"

#include <gtest/gtest.h>

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
    HICON small = (HICON)SendMessageA(dialog_, WM_GETICON, ICON_SMALL, 0);
    HICON big = (HICON)SendMessageA(dialog_, WM_GETICON, ICON_BIG, 0);
    ASSERT_NE(small, (HICON)NULL);
    ASSERT_NE(big, (HICON)NULL);
    EXPECT_EQ(IconSize(small).cx, 16);
    EXPECT_EQ(IconSize(small).cy, 16);
    EXPECT_EQ(IconSize(big).cx, GetSystemMetrics(SM_CXICON));
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
