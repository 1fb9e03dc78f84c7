#include "app_driver.h"
#include "message_box_win32.h"
#include "pelmora_path_win32.h"
#include "resource.h"
#include "win32_test_tools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

bool WaitUntil(const std::function<bool()> &condition, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(20);
    }
    return true;
}

struct Search {
    DWORD processId;
    const char *caption;
    HWND exclude;
    std::vector<HWND> found;
    bool hiddenToo;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter)
{
    Search *search = (Search *)parameter;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (processId != search->processId || window == search->exclude ||
        (!search->hiddenToo && !IsWindowVisible(window)) || lstrcmpA(className, "#32770") != 0)
        return TRUE;
    char caption[256] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (search->caption == NULL || lstrcmpA(caption, search->caption) == 0)
        search->found.push_back(window);
    return TRUE;
}

static HWND FindProcessDialog(DWORD processId, const char *caption, HWND exclude)
{
    Search search = {processId, caption, exclude, {}, false};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return search.found.empty() ? NULL : search.found.front();
}

static std::string MessageText(HWND box)
{
    char text[256] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

bool StartApp(App *app)
{
    ZeroMemory(app, sizeof *app);
    if (!StartTiedProcess(PelmoraPath(), "", &app->process))
        return false;
    WaitForInputIdle(app->process.hProcess, 20000);
    WaitUntil([&] { return (app->main = FindProcessDialog(app->process.dwProcessId, "Pelmora", NULL)) != NULL; },
              20000);
    return app->main != NULL;
}

void StopApp(App *app)
{
    if (app->process.hProcess == NULL)
        return;
    if (WaitForSingleObject(app->process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(app->process.hProcess, 99);
        WaitForSingleObject(app->process.hProcess, 5000);
    }
    CloseHandle(app->process.hThread);
    CloseHandle(app->process.hProcess);
    app->process.hProcess = NULL;
}

long WaitForExit(App *app, DWORD milliseconds)
{
    if (WaitForSingleObject(app->process.hProcess, milliseconds) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(app->process.hProcess, &code);
    return (long)code;
}

bool Settle(const App &app)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(app.main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result))
        return false;
    // A sent message can be handled while the program waits inside a call,
    // before a message box it is making exists, say; a posted one only in a
    // message loop. The field's modified flag shows when the posted message
    // has been handled, and means nothing to the program.
    HWND field = GetDlgItem(app.main, IDC_WINDOWS_PATH);
    DWORD_PTR modified = 0;
    if (!SendMessageTimeoutA(field, EM_GETMODIFY, 0, 0, SMTO_NORMAL, 10000, &modified))
        return false;
    const bool flipped = modified == 0;
    if (!PostMessageA(field, EM_SETMODIFY, flipped, 0))
        return false;
    return WaitUntil(
        [&] {
            DWORD_PTR now = 0;
            return SendMessageTimeoutA(field, EM_GETMODIFY, 0, 0, SMTO_NORMAL, 1000, &now) && (now != 0) == flipped;
        },
        10000);
}

void SetField(const App &app, int id, const std::string &text)
{
    SendDlgItemMessageA(app.main, id, WM_SETTEXT, 0, (LPARAM)text.c_str());
}

std::string GetField(const App &app, int id)
{
    char text[1024] = "";
    SendDlgItemMessageA(app.main, id, WM_GETTEXT, sizeof text, (LPARAM)text);
    return text;
}

void Press(const App &app, int id)
{
    // Sent, not posted: sent messages are handled in order and before posted
    // ones, so a Settle that follows waits for this command.
    SendNotifyMessageA(app.main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(app.main, id));
}

void PressKey(HWND control, WPARAM key)
{
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

HWND FindDialog(const App &app, const char *caption)
{
    HWND found = NULL;
    WaitUntil([&] { return (found = FindProcessDialog(app.process.dwProcessId, caption, app.main)) != NULL; },
              10000);
    return found;
}

HWND FindMessageBox(const App &app)
{
    // A message box is the dialog with the text control 0xFFFF. One not yet
    // shown counts too, since a dialog's own loop runs (and so a Settle can
    // end) before the dialog first shows; it is then awaited until it does.
    Search search = {app.process.dwProcessId, NULL, app.main, {}, true};
    EnumWindows(CollectDialog, (LPARAM)&search);
    for (HWND window : search.found) {
        if (GetDlgItem(window, 0xFFFF) == NULL)
            continue;
        if (!WaitUntil([&] { return !IsWindow(window) || IsWindowVisible(window); }, 10000))
            ADD_FAILURE() << "a message box was made but not shown within 10 s: " << MessageText(window);
        if (IsWindow(window))
            return window;
    }
    return NULL;
}

// How far the pixels at the box's icon are from one standard icon drawn
// here on the same background: 0 for the very same picture.
static long IconDifference(HDC shown, HDC drawn, int size, LPCSTR icon)
{
    const COLORREF background = GetPixel(shown, 0, 0);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = {0, 0, size, size};
    FillRect(drawn, &all, brush);
    DeleteObject(brush);
    DrawIconEx(drawn, 0, 0, LoadIconA(NULL, icon), size, size, 0, NULL, DI_NORMAL);
    long difference = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const COLORREF a = GetPixel(shown, x, y);
            const COLORREF b = GetPixel(drawn, x, y);
            difference += labs((long)GetRValue(a) - GetRValue(b)) + labs((long)GetGValue(a) - GetGValue(b)) +
                          labs((long)GetBValue(a) - GetBValue(b));
        }
    return difference;
}

static std::string WindowName(HWND window)
{
    char className[64] = "";
    char caption[128] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    return std::string(className) + " \"" + caption + "\"";
}

// Icon handles do not cross processes, so the icon is told by its pixels:
// what the screen shows at the box's icon, compared with each standard icon
// drawn here. The screen can lag behind the box's own drawing, so it is read
// again until one icon matches (a few pixels of anti-aliasing may differ), for
// five seconds at most; then the test fails with what the screen showed.
static unsigned IconStyleShown(HWND box)
{
    HWND control = FindMessageBoxIcon(box);
    if (control == NULL)
        return 0;
    const int size = GetSystemMetrics(SM_CXICON);
    const long limit = size * size * 8;
    HDC screen = GetDC(NULL);
    HDC shown = CreateCompatibleDC(screen);
    HBITMAP shownBitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ oldShown = SelectObject(shown, shownBitmap);
    HDC drawn = CreateCompatibleDC(screen);
    HBITMAP drawnBitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ oldDrawn = SelectObject(drawn, drawnBitmap);

    unsigned best = 0;
    long bestDifference = 0x7FFFFFFF;
    RECT rect = {0, 0, 0, 0};
    const DWORD start = GetTickCount();
    do {
        if (bestDifference != 0x7FFFFFFF)
            Sleep(50);
        GetWindowRect(control, &rect);
        BitBlt(shown, 0, 0, size, size, screen, rect.left, rect.top, SRCCOPY);
        bestDifference = 0x7FFFFFFF;
        for (const StandardIcon &candidate : kStandardIcons) {
            const long difference = IconDifference(shown, drawn, size, candidate.icon);
            if (difference < bestDifference) {
                bestDifference = difference;
                best = candidate.style;
            }
        }
    } while (bestDifference >= limit && GetTickCount() - start < 5000);

    SelectObject(drawn, oldDrawn);
    DeleteObject(drawnBitmap);
    DeleteDC(drawn);
    SelectObject(shown, oldShown);
    DeleteObject(shownBitmap);
    DeleteDC(shown);
    ReleaseDC(NULL, screen);
    if (bestDifference < limit)
        return best;
    const POINT middle = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ADD_FAILURE() << "for 5 s no standard icon matched the screen at the message box's icon (" << rect.left << ","
                  << rect.top << "): closest style 0x" << std::hex << best << std::dec << ", difference "
                  << bestDifference << " (a match is under " << limit << "); the window seen there is "
                  << WindowName(WindowFromPoint(middle)) << ", the foreground window "
                  << WindowName(GetForegroundWindow());
    return 0xF0;
}

ShownMessage ReadMessageBox(HWND box)
{
    // Everything sent to the box so far has been handled, its painting too.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    ShownMessage message;
    char text[1024] = "";
    char caption[256] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    GetWindowTextA(box, caption, sizeof caption);
    message.owner = GetWindow(box, GW_OWNER);
    message.text = text;
    message.caption = caption;
    message.style = IconStyleShown(box) | MessageBoxButtons(box);
    return message;
}

bool CloseDialogWith(HWND dialog, int button)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, button));
    return WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000);
}
