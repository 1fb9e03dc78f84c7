// Reading a message box window: which standard icon it shows, which buttons.
#ifndef PELMORA_TEST_MESSAGE_BOX_WIN32_H
#define PELMORA_TEST_MESSAGE_BOX_WIN32_H

#include <windows.h>

struct StandardIcon {
    LPCSTR icon;
    unsigned style;
};
extern const StandardIcon kStandardIcons[4];

// The static control that shows the box's icon, or NULL for a box without one.
HWND FindMessageBoxIcon(HWND box);
// MB_OK when OK is the box's only button, 0x0F otherwise.
unsigned MessageBoxButtons(HWND box);

#endif
