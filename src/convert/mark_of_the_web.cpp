// The Mark of the Web: where a file came from, in a stream beside its data.
// Windows reads it before it trusts the file (SmartScreen, Office's
// Protected View, PowerShell's RemoteSigned), so a copy without its
// source's mark would launder a download.
#include "copy_safeguards.h"

#include <string.h>

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

static const char kMarkStream[] = ":Zone.Identifier";
enum { kMarkNameCapacity = kPathBufferSize + sizeof kMarkStream + 8 };

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
int ReadMark(HANDLE source, const char *sourcePath, unsigned char *mark, uint32_t *markSize, int *marked)
{
    WCHAR name[kMarkNameCapacity];
    *marked = 0;
    HANDLE stream = MakeMarkName(sourcePath, name)
                        ? CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                      OPEN_EXISTING, 0, NULL)
                        : INVALID_HANDLE_VALUE;
    if (stream == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || !VolumeKeepsStreams(source);
    }
    // A mark fits in one request, which must come whole.
    DWORD high = 0;
    const DWORD size = GetFileSize(stream, &high);
    DWORD transferred = 0;
    *marked = high == 0 && size <= kMarkLimit && ReadFile(stream, mark, size, &transferred, NULL) && transferred == size;
    CloseHandle(stream);
    *markSize = size;
    return *marked;
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
    DWORD transferred = 0;
    const int written = WriteFile(stream, mark, size, &transferred, NULL) && transferred == size;
    return CloseHandle(stream) && written;
}

// Before the deletion mark, since a file whose deletion is pending takes no
// new opens, not even of its streams. Should Pelmora end in between, an
// empty file with the mark can remain: that is the price of the order, and
// never an unmarked copy. On a volume without streams the copy goes
// unmarked, as when Windows itself copies a file there.
int MarkCopy(HANDLE destination, const char *destinationPath, const unsigned char *mark, uint32_t size,
             int *markBeside)
{
    const int streams = VolumeKeepsStreams(destination);
    const int written = WriteMark(destinationPath, mark, size);
    *markBeside = written && !streams;
    if (!written && !streams)
        RemoveMarkFile(destinationPath);
    return written || !streams;
}

// On a volume without streams the mark's name can still make a file of its
// own beside the copy (Wine makes one). It is removed by name while the
// copy's handle still holds the copy; on a volume with streams it never is,
// since the copy's removal takes its streams, and removing the mark from a
// copy that stays would launder it.
void RemoveMarkFile(const char *destinationPath)
{
    WCHAR name[kMarkNameCapacity];
    if (MakeMarkName(destinationPath, name))
        DeleteFileW(name);
}
