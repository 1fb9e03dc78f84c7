// What the stand-in's MessageBoxA was asked to show, for tests to inspect.
#ifndef PELMORA_STANDIN_MESSAGES_H
#define PELMORA_STANDIN_MESSAGES_H

#include "windows.h"

enum { kStandInMessageCapacity = 16, kStandInTextCapacity = 256 };

struct StandInMessage {
    HWND owner;
    char text[kStandInTextCapacity];
    char caption[kStandInTextCapacity];
    UINT type;
};

// Copies up to capacity recorded messages, oldest first, and forgets them all.
// Returns how many were recorded, which can exceed what was copied.
int TakeStandInMessages(StandInMessage *messages, int capacity);

#endif
