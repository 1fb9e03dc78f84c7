// What the stand-in's MessageBoxA was asked to show, and the failures it can
// be told to fake, for tests.
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

// Failures that a real disk or network share shows but a test cannot bring
// about on a local file. Each holds until it is set back to none.
enum StandInFault {
    kStandInNoFault,
    // Closing a file opened for writing reports a failed delayed write; the
    // file is closed all the same, as on Windows.
    kStandInClosingAWrittenFileFails,
    // Deleting any file is refused.
    kStandInDeletingFails
};
void SetStandInFaults(unsigned faults); // a bit per StandInFault

#endif
