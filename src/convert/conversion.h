// The Convert command: which way a file pair converts, and the two converters.
#ifndef PELMORA_CONVERSION_H
#define PELMORA_CONVERSION_H

#include <windows.h>

// One path in the ANSI code page with its terminating NUL.
enum { kPathBufferSize = 260 };
typedef char PathBuffer[kPathBufferSize];

enum ConversionDirection {
    None = 0,          // neither file exists, or both do
    WindowsToUnix = 1, // only the Windows file exists
    UnixToWindows = 2  // only the Unix file exists
};

// A path "exists" when it opens for shared reading. Directories, files that
// deny read sharing and malformed names all count as absent. The caller
// closes a handle that is not INVALID_HANDLE_VALUE.
HANDLE OpenExistingFile(const char *path);

ConversionDirection ProbeConversionDirection(const char *windowsPath, const char *unixPath);

// Converts whichever of the pair exists into the other path, or warns the
// user (owned by owner) that the pair cannot be used.
void RunConversion(HWND owner, const char *windowsPath, const char *unixPath);

// Drops the input made while the work ran, once it is done and before
// anything is said about it; the converters and RunConversion's warning do.
void DropInputMadeWhileBusy(void);

// Each reads the whole source, converts it in memory, and writes it to a
// destination that must not exist yet. A failure is reported to the user and
// leaves no destination behind, or says that one remains; the source is
// never modified.
void ConvertWindowsToUnix(const char *sourcePath, const char *destinationPath);
void ConvertUnixToWindows(const char *sourcePath, const char *destinationPath);

#endif
