#include "message_capture.h"
#include "message_box_win32.h"

#include <algorithm>

static HHOOK g_hook = NULL;
static std::vector<CapturedMessage> g_messages;
// A box can be activated more than once before it closes; count it once.
static std::vector<HWND> g_seen;

// In this process the box's icon handle is the shared standard one.
static unsigned IconStyleOf(HWND box)
{
    HWND iconControl = FindMessageBoxIcon(box);
    if (iconControl == NULL)
        return 0;
    HICON shown = (HICON)SendMessageA(iconControl, STM_GETICON, 0, 0);
    for (const StandardIcon &standard : kStandardIcons)
        if (shown == LoadIconA(NULL, standard.icon))
            return standard.style;
    return 0xF0; // an icon, but none of the standard ones
}

static LRESULT CALLBACK CaptureHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        char className[32] = "";
        GetClassNameA(box, className, sizeof className);
        // Only this thread's message boxes: other dialogs are activated too,
        // and Wine also calls this hook when the activation passes to a
        // window of another process, such as another test's message box as
        // it closes.
        if (GetWindowThreadProcessId(box, NULL) == GetCurrentThreadId() && lstrcmpA(className, "#32770") == 0 &&
            GetDlgItem(box, 0xFFFF) != NULL && std::find(g_seen.begin(), g_seen.end(), box) == g_seen.end()) {
            g_seen.push_back(box);
            char text[512] = "";
            char caption[256] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            GetWindowTextA(box, caption, sizeof caption);
            g_messages.push_back({GetWindow(box, GW_OWNER), text, caption, IconStyleOf(box) | MessageBoxButtons(box)});
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

void BeginMessageCapture()
{
    g_messages.clear();
    g_seen.clear();
    if (g_hook == NULL)
        g_hook = SetWindowsHookExA(WH_CBT, CaptureHook, NULL, GetCurrentThreadId());
}

std::vector<CapturedMessage> EndMessageCapture()
{
    if (g_hook != NULL) {
        UnhookWindowsHookEx(g_hook);
        g_hook = NULL;
    }
    std::vector<CapturedMessage> messages;
    messages.swap(g_messages);
    return messages;
}

HWND CreateOwnerWindow()
{
    return CreateWindowExA(0, "Static", "owner", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, GetModuleHandleA(NULL),
                           NULL);
}

void DestroyOwnerWindow(HWND owner)
{
    DestroyWindow(owner);
}
