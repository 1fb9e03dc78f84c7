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
// about on a local file, as bits to combine. They hold until set to 0.
enum StandInFault {
    // Closing a file opened for writing fails; the file is closed all the
    // same.
    kStandInClosingAWrittenFileFails = 1,
    // Marking a file for deletion is refused, as for a read-only file.
    kStandInMarkingForDeletionFails = 2,
    // Reading fails at once, as a byte range another program has locked does.
    kStandInReadingFails = 4,
    // Reading succeeds but returns only half of what was asked for.
    kStandInReadingStopsShort = 8,
    // Flushing a file's buffers reports that the write-back failed.
    kStandInFlushingFails = 16,
    // No path's volume can be told.
    kStandInVolumesAreUnknown = 32,
    // Clearing a file's deletion mark fails, and it stays.
    kStandInClearingTheDeletionMarkFails = 64,
    // Clearing a file's deletion mark reports success, yet it stays.
    kStandInClearingTheDeletionMarkIsIgnored = 128,
    // Creating a file's Zone.Identifier stream (its Mark of the Web) is refused.
    kStandInCreatingAMarkFails = 256,
    // No volume's attributes can be read through a file's handle.
    kStandInVolumeFlagsAreUnknown = 512
};
void SetStandInFaults(unsigned faults);

// Makes the folder (an absolute name without a trailing slash) a volume of
// its own that keeps no named streams, as FAT; NULL ends it.
void SetStandInVolumeWithoutStreams(const char *root);

// The name CreateFileW was last given, as it was given.
const WCHAR *LastStandInWideName(void);

// The one drive every file is on, as Windows would tell it: the type
// GetDriveTypeA answers for its root, the device characteristics of a file's
// volume (FILE_REMOTE_DEVICE, FILE_REMOVABLE_MEDIA), and the bus of its disk
// (BusTypeUsb is 7; -1 when the disk cannot be asked). A fixed disk on an
// ATA bus until told.
void SetStandInDrive(UINT type, ULONG characteristics, int bus);

#endif
