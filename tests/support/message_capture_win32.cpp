#include "message_capture.h"

static HHOOK g_hook = NULL;
static std::vector<CapturedMessage> g_messages;

static HWND FindIconControl(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return NULL;
}

static unsigned IconStyleOf(HWND box)
{
    HWND iconControl = FindIconControl(box);
    if (iconControl == NULL)
        return 0;
    HICON shown = (HICON)SendMessageA(iconControl, STM_GETICON, 0, 0);
    if (shown == LoadIconA(NULL, IDI_WARNING))
        return MB_ICONWARNING;
    if (shown == LoadIconA(NULL, IDI_INFORMATION))
        return MB_ICONINFORMATION;
    if (shown == LoadIconA(NULL, IDI_ERROR))
        return MB_ICONERROR;
    if (shown == LoadIconA(NULL, IDI_QUESTION))
        return MB_ICONQUESTION;
    return 0xF0; // an icon, but none of the standard ones
}

static unsigned ButtonStyleOf(HWND box)
{
    const bool onlyOk = GetDlgItem(box, IDOK) != NULL && GetDlgItem(box, IDCANCEL) == NULL &&
                        GetDlgItem(box, IDYES) == NULL && GetDlgItem(box, IDNO) == NULL &&
                        GetDlgItem(box, IDRETRY) == NULL;
    return onlyOk ? MB_OK : 0x0F;
}

static LRESULT CALLBACK CaptureHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        char className[32] = "";
        GetClassNameA(box, className, sizeof className);
        if (lstrcmpA(className, "#32770") == 0) {
            char text[512] = "";
            char caption[256] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            GetWindowTextA(box, caption, sizeof caption);
            g_messages.push_back({GetWindow(box, GW_OWNER), text, caption, IconStyleOf(box) | ButtonStyleOf(box)});
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

void BeginMessageCapture()
{
    g_messages.clear();
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
