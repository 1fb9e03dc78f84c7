#include "conversion.h"
#include "line_endings.h"

#include <stddef.h>
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

static DWORD NextPiece(uint32_t left)
{
    return left < kLargestRequest ? left : kLargestRequest;
}

// Every piece must come whole: a short one is a failure, as a short read of
// the whole file would be.
static ConversionOutcome ReadWholeFile(HANDLE source, unsigned char *buffer, uint32_t size)
{
    for (uint32_t done = 0; done < size;) {
        const DWORD piece = NextPiece(size - done);
        DWORD transferred = 0;
        if (!ReadFile(source, buffer + done, piece, &transferred, NULL) || transferred != piece)
            return kCannotReadSource;
        done += piece;
    }
    return kConverted;
}

static ConversionOutcome WriteWholeFile(HANDLE destination, const unsigned char *buffer, uint32_t size)
{
    for (uint32_t done = 0; done < size;) {
        const DWORD piece = NextPiece(size - done);
        DWORD transferred = 0;
        if (!WriteFile(destination, buffer + done, piece, &transferred, NULL) || transferred != piece)
            return kCannotWriteDestination;
        done += piece;
    }
    return kConverted;
}

// ntdll's calls about a file and its volume. SetFileInformationByHandle and
// its kin come only with Vista; these are on every NT version, and Pelmora
// still runs on XP.
enum { kFileStandardInformation = 5, kFileDispositionInformation = 13 };   // of a file
enum { kFileFsDeviceInformation = 4, kFileFsAttributeInformation = 5 }; // of its volume

struct IoStatusBlock {
    union {
        LONG status;
        void *pointer;
    } result;
    ULONG_PTR information;
};

// NtSetInformationFile, NtQueryInformationFile and NtQueryVolumeInformationFile
// share this signature; the information is the class's own record.
typedef LONG(NTAPI *FileInformationCall)(HANDLE file, void *status, void *information, ULONG length,
                                         int informationClass);

static FileInformationCall FindFileInformationCall(const char *name)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    // Through a generic function pointer, the one cast from FARPROC that
    // no compiler warns about.
    return ntdll != NULL ? (FileInformationCall)(void (*)(void))GetProcAddress(ntdll, name) : NULL;
}

// What the volume that holds an open file says of itself. The handle, not
// the name, is asked: a name through a junction or a directory link names
// the volume the link is on, not the file's.
static int QueryVolumeOf(HANDLE file, int informationClass, void *information, ULONG length)
{
    FileInformationCall query = FindFileInformationCall("NtQueryVolumeInformationFile");
    IoStatusBlock status;
    return query != NULL && query(file, &status, information, length, informationClass) >= 0;
}

// Whether the file's volume keeps named streams, as NTFS does and FAT, exFAT
// and many shares do not. One that cannot be told is taken to keep them, so
// that a mark is never dropped for want of an answer.
static int VolumeKeepsStreams(HANDLE file)
{
    struct {
        ULONG attributes;
        LONG longestName;
        ULONG nameLength;
        WCHAR name[32];
    } volume;
    return !QueryVolumeOf(file, kFileFsAttributeInformation, &volume, sizeof volume) ||
           (volume.attributes & FILE_NAMED_STREAMS) != 0;
}

// The root of the volume that holds path ("C:\", "\\server\share\"). The
// name is made absolute first, since the volume of a relative name would be
// taken as the boot volume's.
static int FindVolumeRoot(const char *path, char *root, DWORD rootSize)
{
    char full[kPathBufferSize];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, NULL);
    return length != 0 && length < sizeof full && GetVolumePathNameA(full, root, rootSize);
}

// Whether the disk under a volume root is on USB. The volume is opened with
// no access rights, which is all that asking its disk takes. A bus that
// cannot be asked (a share, an old driver) counts as not USB.
static int VolumeIsOnUsb(const char *root)
{
    // IOCTL_STORAGE_QUERY_PROPERTY for StorageDeviceProperty, and the
    // descriptor it fills as far as its bus; not every SDK declares them.
    static const DWORD kQueryStorageProperty = 0x002D1400;
    static const ULONG kBusTypeUsb = 7;
    struct {
        ULONG property, queryType;
        UCHAR parameters[4];
    } query = {0, 0, {0}};
    struct Descriptor {
        ULONG version, size;
        UCHAR deviceType, deviceTypeModifier, removableMedia, commandQueueing;
        ULONG vendorId, productId, productRevision, serialNumber;
        ULONG busType;
        UCHAR rest[1024]; // the names that follow, which some drivers will not cut short
    };
    Descriptor device;
    char name[kPathBufferSize];
    if (!GetVolumeNameForVolumeMountPointA(root, name, sizeof name))
        return 0;
    // \\?\Volume{...}\ names the volume's root folder; without the backslash,
    // the volume itself.
    const size_t length = strlen(name);
    if (length == 0 || name[length - 1] != '\\')
        return 0;
    name[length - 1] = '\0';
    HANDLE volume = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (volume == INVALID_HANDLE_VALUE)
        return 0;
    DWORD returned = 0;
    const BOOL asked = DeviceIoControl(volume, kQueryStorageProperty, &query, sizeof query, &device, sizeof device,
                                       &returned, NULL);
    CloseHandle(volume);
    return asked && returned >= offsetof(Descriptor, rest) && device.busType == kBusTypeUsb;
}

// Writes behind: WriteFile succeeds once the bytes are in the cache, and
// should writing them back fail later, the system records it and the
// program is never told; CloseHandle does not report it either. So a copy
// on a network share or a removable drive, or on a USB disk (which Windows
// before 10 1809 caches the same way, though it calls it fixed), is flushed,
// which waits for the real outcome. So is one on a drive whose type cannot
// be told. A local fixed disk is left to the cache, and costs nothing more.
static int DestinationWritesBehind(HANDLE destination, const char *destinationPath)
{
    static const ULONG kRemovableMedia = 0x1, kRemoteDevice = 0x10;
    struct {
        ULONG deviceType, characteristics;
    } device;
    if (QueryVolumeOf(destination, kFileFsDeviceInformation, &device, sizeof device) &&
        (device.characteristics & (kRemovableMedia | kRemoteDevice)) != 0)
        return 1;
    char root[kPathBufferSize];
    if (!FindVolumeRoot(destinationPath, root, sizeof root))
        return 1;
    const UINT type = GetDriveTypeA(root);
    return (type != DRIVE_FIXED && type != DRIVE_RAMDISK) || VolumeIsOnUsb(root);
}

// The Mark of the Web: where a file came from (ZoneId=3, the Internet), in a
// stream beside its data. Windows reads it before it trusts the file
// (SmartScreen, Office's Protected View, PowerShell's RemoteSigned), so a
// copy without its source's mark would launder a download.
static const char kMarkStream[] = ":Zone.Identifier";
enum { kMarkLimit = 65536, kMarkNameCapacity = kPathBufferSize + sizeof kMarkStream + 8 };

// The mark's stream as a name for the W calls: the file's full name with
// the stream after it passes MAX_PATH where the file's own name need not,
// and the A calls stop there. So this is the one wide name in the program:
// \\?\ and the full name, or \\?\UNC\server\share\... for a share.
static int MakeMarkName(const char *path, WCHAR *name)
{
    char full[kPathBufferSize];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, NULL);
    if (length == 0 || length >= sizeof full) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const int prefixed = full[0] == '\\' && full[1] == '\\' && (full[2] == '?' || full[2] == '.') && full[3] == '\\';
    const int share = full[0] == '\\' && full[1] == '\\' && !prefixed;
    const char *prefix = prefixed ? "" : share ? "\\\\?\\UNC" : "\\\\?\\";
    // A share's name keeps one of its two backslashes, after UNC.
    char narrow[kMarkNameCapacity];
    const size_t prefixLength = strlen(prefix);
    memcpy(narrow, prefix, prefixLength);
    memcpy(narrow + prefixLength, full + share, length - share);
    memcpy(narrow + prefixLength + length - share, kMarkStream, sizeof kMarkStream);
    return MultiByteToWideChar(CP_ACP, 0, narrow, -1, name, kMarkNameCapacity) != 0;
}

// Reads the source's mark whole, if it has one. There is no mark only when
// the stream is certainly not there: not found, or on a volume that keeps no
// streams at all (FAT takes the colon for a bad name). Any other failure (a
// mark another program holds, one too long to be a mark) fails the
// conversion, since an unreadable mark must never become an unmarked copy.
static ConversionOutcome ReadMark(HANDLE source, const char *sourcePath, unsigned char *mark, uint32_t *markSize,
                                  int *marked)
{
    WCHAR name[kMarkNameCapacity];
    *marked = 0;
    HANDLE stream = MakeMarkName(sourcePath, name)
                        ? CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                      OPEN_EXISTING, 0, NULL)
                        : INVALID_HANDLE_VALUE;
    if (stream == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || !VolumeKeepsStreams(source) ? kConverted : kCannotReadSource;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(stream, &high);
    ConversionOutcome outcome = kCannotReadSource;
    if (high == 0 && size <= kMarkLimit)
        outcome = ReadWholeFile(stream, mark, size);
    CloseHandle(stream);
    *markSize = size;
    *marked = outcome == kConverted;
    return outcome;
}

// Gives the copy the source's mark. Sharing is checked per stream, so this
// open does not meet the copy's own handle, which shares nothing.
static int WriteMark(const char *destinationPath, const unsigned char *mark, uint32_t size)
{
    WCHAR name[kMarkNameCapacity];
    if (!MakeMarkName(destinationPath, name))
        return 0;
    HANDLE stream = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, NULL);
    if (stream == INVALID_HANDLE_VALUE)
        return 0;
    const int written = WriteWholeFile(stream, mark, size) == kConverted;
    return CloseHandle(stream) && written;
}

// On a volume without streams the mark's name can still make a file of its
// own beside the copy (Wine makes one). It is removed by name while the
// copy's handle still holds the copy; on a volume with streams it never is,
// since the copy's removal takes its streams, and removing the mark from a
// copy that stays would launder it.
static void RemoveMarkFile(const char *destinationPath)
{
    WCHAR name[kMarkNameCapacity];
    if (MakeMarkName(destinationPath, name))
        DeleteFileW(name);
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

// The copy is doomed from the moment it exists until it is complete: it is
// marked for deletion through its own handle, so that if Pelmora is ended
// while it writes (Task Manager, "Close the program", a crash, logging off)
// the system removes it with the handle. The deletion mark is cleared only
// once the copy is whole.
struct FileStandardInformation {
    LONGLONG allocationSize;
    LONGLONG endOfFile;
    ULONG numberOfLinks;
    BOOLEAN deletePending;
    BOOLEAN directory;
};

static int MarkForDeletion(HANDLE file, BOOLEAN doomed)
{
    FileInformationCall set = FindFileInformationCall("NtSetInformationFile");
    IoStatusBlock status;
    return set != NULL && set(file, &status, &doomed, sizeof doomed, kFileDispositionInformation) >= 0;
}

// Clears the mark and makes sure it is clear: a file system that ignored the
// clear would delete a finished copy at close while Pelmora reported success.
// *doomed says afterwards whether the mark is known to be still set.
static ConversionOutcome KeepDestination(HANDLE destination, int *doomed)
{
    FileInformationCall query = FindFileInformationCall("NtQueryInformationFile");
    if (query == NULL || !MarkForDeletion(destination, FALSE))
        return kCannotWriteDestination;
    FileStandardInformation information;
    IoStatusBlock status;
    if (query(destination, &status, &information, sizeof information, kFileStandardInformation) < 0) {
        *doomed = 0; // cleared, most likely, but nobody can say
        return kCannotWriteDestination;
    }
    *doomed = information.deletePending != 0;
    return *doomed ? kCannotWriteDestination : kConverted;
}

// Everything that can fail on the source happens before the destination is
// created, and the destination counts as written only once it is complete,
// so the user is never left with something that looks like a finished copy.
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
        outcome = ReadWholeFile(source, sourceBytes, size);
        sourceBytes[size] = 0;
    }
    if (outcome == kConverted) {
        mark = (unsigned char *)malloc(kMarkLimit);
        outcome = mark != NULL ? ReadMark(source, sourcePath, mark, &markSize, &marked) : kNotEnoughMemory;
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
    if (outcome == kConverted && marked) {
        // Before the deletion mark, since a file whose deletion is pending
        // takes no new opens, not even of its streams. Should Pelmora end in
        // between, an empty file with the mark can remain: that is the price
        // of the order, and never an unmarked copy. On a volume without
        // streams the copy goes unmarked, as when Windows itself copies a
        // file there; elsewhere a copy more trusted than its source would be
        // worse than none.
        const int streams = VolumeKeepsStreams(destination);
        if (WriteMark(destinationPath, mark, markSize))
            markBeside = !streams;
        else if (streams)
            outcome = kCannotWriteDestination;
        else
            RemoveMarkFile(destinationPath);
    }
    if (outcome == kConverted) {
        doomed = MarkForDeletion(destination, TRUE);
        if (!doomed)
            outcome = kCannotWriteDestination;
    }
    if (outcome == kConverted)
        outcome = WriteWholeFile(destination, outputBytes, outputLength);
    if (outcome == kConverted && DestinationWritesBehind(destination, destinationPath) &&
        !FlushFileBuffers(destination))
        outcome = kCannotWriteDestination;
    if (outcome == kConverted)
        outcome = KeepDestination(destination, &doomed);

    free(sourceBytes);
    free(outputBytes);
    free(mark);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    if (destination != INVALID_HANDLE_VALUE) {
        // This call created the file, so removing it loses nothing of the
        // user's; it is never deleted by name, since the name may be someone
        // else's file by now. A copy that failed goes with this handle, and
        // its mark with it, unless even the deletion mark is refused: then it
        // stays, and the user is told. So does a finished copy whose close
        // fails, which cannot be vouched for.
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
