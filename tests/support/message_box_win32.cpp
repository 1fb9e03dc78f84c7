#include "message_box_win32.h"

const StandardIcon kStandardIcons[4] = {{IDI_WARNING, MB_ICONWARNING},
                                        {IDI_INFORMATION, MB_ICONINFORMATION},
                                        {IDI_ERROR, MB_ICONERROR},
                                        {IDI_QUESTION, MB_ICONQUESTION}};

HWND FindMessageBoxIcon(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return NULL;
}

unsigned MessageBoxButtons(HWND box)
{
    const bool onlyOk = GetDlgItem(box, IDOK) != NULL && GetDlgItem(box, IDCANCEL) == NULL &&
                        GetDlgItem(box, IDYES) == NULL && GetDlgItem(box, IDNO) == NULL &&
                        GetDlgItem(box, IDRETRY) == NULL;
    return onlyOk ? MB_OK : 0x0F;
}
