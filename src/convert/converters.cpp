#include "conversion.h"
#include "copy_safeguards.h"
#include "line_endings.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

enum ConversionOutcome {
    kConverted,
    kCannotReadSource,
    kFileTooLarge,
    kNotEnoughMemory,
    kCannotCreateDestination,
    kCannotWriteDestination,
    kIncompleteDestinationRemains
};

static ConversionOutcome QuerySourceSize(HANDLE source, uint32_t *size)
{
    // GetFileSize answers 0xFFFFFFFF both for failure and for a real low part
    // of that value; only the last error tells them apart, and a successful
    // call does not clear it.
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(source, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return kCannotReadSource;
    // The buffer needs size + 1 bytes, and a size of 4 GiB or more must not
    // be mistaken for its low part.
    if (high != 0 || low == 0xFFFFFFFFu)
        return kFileTooLarge;
    *size = (uint32_t)low;
    return kConverted;
}

// No one request moves more than this. A request that the cache cannot take
// needs the whole buffer locked in memory at once, which 64-bit XP refuses
// past 32 MiB and 32-bit XP past 64 MiB, and which any Windows may refuse
// under memory pressure or on a share (ERROR_NO_SYSTEM_RESOURCES): the file
// itself would be fine.
static const uint32_t kLargestRequest = 16u << 20;

// Reads or writes the buffer whole, a piece at a time. Every piece must
// come whole: a short one is a failure, as a short read of the whole file
// would be.
enum Transfer { kRead, kWrite };

static int TransferInPieces(HANDLE file, unsigned char *buffer, uint32_t size, Transfer transfer)
{
    for (uint32_t done = 0; done < size;) {
        const DWORD piece = size - done < kLargestRequest ? size - done : kLargestRequest;
        DWORD transferred = 0;
        const BOOL moved = transfer == kWrite ? WriteFile(file, buffer + done, piece, &transferred, NULL)
                                              : ReadFile(file, buffer + done, piece, &transferred, NULL);
        if (!moved || transferred != piece)
            return 0;
        done += piece;
    }
    return 1;
}

static ConversionOutcome MeasureOutput(ConversionDirection direction, TextEncoding encoding,
                                       const unsigned char *source, uint32_t size, uint32_t *outputLength)
{
    const uint32_t unit = CodeUnitSize(encoding);
    if (direction == WindowsToUnix) {
        *outputLength = size - unit * CountCrLfPairs(encoding, source, size);
        return kConverted;
    }
    const uint32_t lineFeeds = CountLineFeeds(encoding, source, size);
    if (!OutputFitsIn32Bits(size, lineFeeds, unit))
        return kFileTooLarge;
    *outputLength = size + unit * lineFeeds;
    return kConverted;
}

// Reads the source and its Mark of the Web, converts it in memory, creates
// the copy and gives it that mark, dooms it, writes it, flushes it where the
// drive writes behind, and keeps it. Everything that can fail on the source
// happens before the copy is created, and the copy counts as written only
// once it is complete, so the user is never left with something that looks
// like a finished copy.
static ConversionOutcome ConvertFile(ConversionDirection direction, const char *sourcePath,
                                     const char *destinationPath)
{
    unsigned char *sourceBytes = NULL;
    unsigned char *outputBytes = NULL;
    unsigned char *mark = NULL;
    uint32_t markSize = 0;
    int marked = 0;      // the source has a mark
    int markBeside = 0;  // the copy's mark is a file of its own
    HANDLE destination = INVALID_HANDLE_VALUE;
    int doomed = 0;
    uint32_t size = 0;
    uint32_t outputLength = 0;
    TextEncoding encoding = kBytes;
    ConversionOutcome outcome = kConverted;

    HANDLE source = OpenExistingFile(sourcePath);
    if (source == INVALID_HANDLE_VALUE)
        outcome = kCannotReadSource;
    if (outcome == kConverted)
        outcome = QuerySourceSize(source, &size);
    if (outcome == kConverted) {
        sourceBytes = (unsigned char *)malloc((size_t)size + 1);
        if (sourceBytes == NULL)
            outcome = kNotEnoughMemory;
    }
    if (outcome == kConverted) {
        outcome = TransferInPieces(source, sourceBytes, size, kRead) ? kConverted : kCannotReadSource;
        sourceBytes[size] = 0;
    }
    if (outcome == kConverted) {
        mark = (unsigned char *)malloc(kMarkLimit);
        if (mark == NULL)
            outcome = kNotEnoughMemory;
        else if (!ReadMark(source, sourcePath, mark, &markSize, &marked))
            outcome = kCannotReadSource;
    }
    if (outcome == kConverted) {
        encoding = DetectTextEncoding(sourceBytes, size);
        outcome = MeasureOutput(direction, encoding, sourceBytes, size, &outputLength);
    }
    if (outcome == kConverted) {
        outputBytes = (unsigned char *)malloc((size_t)outputLength + 1);
        if (outputBytes == NULL)
            outcome = kNotEnoughMemory;
    }
    if (outcome == kConverted) {
        if (direction == WindowsToUnix)
            TransformWindowsToUnix(encoding, sourceBytes, size, outputBytes);
        else
            TransformUnixToWindows(encoding, sourceBytes, size, outputBytes);
        outputBytes[outputLength] = 0;
        // CREATE_NEW: the probe saw no file here, and one that has appeared
        // since, or that exists but would not open for reading, is the
        // user's data and must not be truncated. Shared with nobody, so no
        // other program can read a half-written copy, write into it, or
        // rename it away and leave its own file to be removed in its place.
        // DELETE access is what lets this handle mark it for deletion.
        destination = CreateFileA(destinationPath, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                                  FILE_ATTRIBUTE_ARCHIVE, NULL);
        if (destination == INVALID_HANDLE_VALUE)
            outcome = kCannotCreateDestination;
    }
    if (outcome == kConverted && marked && !MarkCopy(destination, destinationPath, mark, markSize, &markBeside))
        outcome = kCannotWriteDestination;
    if (outcome == kConverted) {
        doomed = MarkForDeletion(destination, TRUE);
        if (!doomed)
            outcome = kCannotWriteDestination;
    }
    if (outcome == kConverted)
        outcome = TransferInPieces(destination, outputBytes, outputLength, kWrite) ? kConverted
                                                                                   : kCannotWriteDestination;
    if (outcome == kConverted && CopyWritesBehind(destination, destinationPath) && !FlushFileBuffers(destination))
        outcome = kCannotWriteDestination;
    if (outcome == kConverted && !KeepCopy(destination, &doomed))
        outcome = kCannotWriteDestination;

    free(sourceBytes);
    free(outputBytes);
    free(mark);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    if (destination != INVALID_HANDLE_VALUE) {
        // This call created the file, so removing it loses nothing of the
        // user's; it is never deleted by name, since the name may be someone
        // else's file by now. A copy that failed goes with this handle, and
        // its Mark of the Web with it, unless even the deletion mark is
        // refused: then it stays, and the user is told. So does a finished
        // copy whose close fails, which cannot be vouched for.
        if (outcome != kConverted) {
            if (!doomed)
                doomed = MarkForDeletion(destination, TRUE);
            if (!doomed)
                outcome = kIncompleteDestinationRemains;
            else if (markBeside)
                RemoveMarkFile(destinationPath);
        }
        if (!CloseHandle(destination) && outcome == kConverted)
            outcome = kIncompleteDestinationRemains;
    }
    return outcome;
}

static void ReportOutcome(ConversionOutcome outcome)
{
    DropInputMadeWhileBusy();
    const char *text = NULL;
    switch (outcome) {
    case kCannotReadSource:
        text = "File Conversion Error:\nCannot read the source file";
        break;
    case kFileTooLarge:
        text = "File Conversion Error:\nFile too large";
        break;
    case kNotEnoughMemory:
        text = "File Conversion Error:\nNot enough memory";
        break;
    case kCannotCreateDestination:
        text = "File Conversion Error:\nCannot create the destination file";
        break;
    case kCannotWriteDestination:
        text = "File Conversion Error:\nCannot write the destination file";
        break;
    case kIncompleteDestinationRemains:
        text = "File Conversion Error:\nCannot write the destination file\nThe incomplete copy could not be removed.";
        break;
    case kConverted:
        break;
    }
    if (text != NULL)
        MessageBoxA(NULL, text, "Error", MB_OK | MB_ICONWARNING);
}

void ConvertWindowsToUnix(const char *sourcePath, const char *destinationPath)
{
    ReportOutcome(ConvertFile(WindowsToUnix, sourcePath, destinationPath));
}

void ConvertUnixToWindows(const char *sourcePath, const char *destinationPath)
{
    ReportOutcome(ConvertFile(UnixToWindows, sourcePath, destinationPath));
}
