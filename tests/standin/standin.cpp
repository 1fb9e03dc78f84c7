#include "windows.h"
#include "standin_messages.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static DWORD g_lastError = NO_ERROR;
static StandInMessage g_messages[kStandInMessageCapacity];
static int g_messageCount = 0;
static unsigned g_faults = 0;
static UINT g_driveType = DRIVE_FIXED;
static ULONG g_deviceCharacteristics = 0;
static int g_busType = 3; // BusTypeAta
static const char kVolume[] = "\\\\?\\Volume{stand-in}";
static char g_volumeWithoutStreams[4096];
static WCHAR g_lastWideName[4096];
// What each descriptor was opened as: for writing (for the close fault),
// and under which name, marked for deletion or not.
enum { kTrackedDescriptors = 1024 };
struct OpenFile {
    bool writes;
    bool doomed;
    char *path;
    bool volume; // the volume itself, opened for DeviceIoControl
};
static OpenFile g_open[kTrackedDescriptors];

static bool FaultIsSet(StandInFault fault)
{
    return (g_faults & fault) != 0;
}

static DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_INVALID_NAME;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

static int DescriptorOf(HANDLE handle)
{
    return (int)(intptr_t)handle;
}

static OpenFile *Tracked(int fd)
{
    return fd >= 0 && fd < kTrackedDescriptors && g_open[fd].path != NULL ? &g_open[fd] : NULL;
}

// Where the stream part of a name begins: its last component's colon, or
// the end.
static size_t StreamAt(const char *fileName)
{
    const char *slash = strrchr(fileName, '/');
    const char *colon = strchr(slash != NULL ? slash : fileName, ':');
    return colon != NULL ? (size_t)(colon - fileName) : strlen(fileName);
}

static bool OnVolumeWithoutStreams(const char *fileName)
{
    const size_t length = strlen(g_volumeWithoutStreams);
    return length != 0 && strncmp(fileName, g_volumeWithoutStreams, length) == 0 &&
           (fileName[length] == '/' || fileName[length] == '\0');
}

// Whether a descriptor marked for deletion holds the file that this name,
// or the file this stream belongs to, names. A file whose deletion is
// pending opens for nobody.
static bool DeletionIsPending(const char *fileName)
{
    char file[4096];
    const size_t length = StreamAt(fileName);
    if (length >= sizeof file)
        return false;
    memcpy(file, fileName, length);
    file[length] = '\0';
    struct stat named;
    if (stat(file, &named) != 0)
        return false;
    struct stat held;
    for (int fd = 0; fd < kTrackedDescriptors; ++fd)
        if (g_open[fd].doomed && fstat(fd, &held) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return true;
    return false;
}

static HANDLE OpenFileNamed(LPCSTR fileName, DWORD desiredAccess, DWORD creationDisposition)
{
    if (fileName == NULL || fileName[0] == '\0') {
        g_lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (fileName[StreamAt(fileName)] == ':' && OnVolumeWithoutStreams(fileName)) {
        g_lastError = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    if (strcmp(fileName + StreamAt(fileName), ":Zone.Identifier") == 0 && (desiredAccess & GENERIC_WRITE) != 0 &&
        FaultIsSet(kStandInCreatingAMarkFails)) {
        g_lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (DeletionIsPending(fileName)) {
        g_lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    const bool reads = (desiredAccess & GENERIC_READ) != 0;
    const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (creationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        g_lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(fileName, flags, 0666);
    if (fd < 0) {
        g_lastError = ErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    // Windows will not open a directory as a file; POSIX will for reading.
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        g_lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (fd < kTrackedDescriptors)
        g_open[fd] = OpenFile{writes, false, strdup(fileName), false};
    g_lastError = NO_ERROR;
    return (HANDLE)(intptr_t)fd;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE)
{
    if (fileName != NULL && strlen(fileName) >= MAX_PATH) {
        g_lastError = ERROR_FILENAME_EXCED_RANGE;
        return INVALID_HANDLE_VALUE;
    }
    if (fileName != NULL && strcmp(fileName, kVolume) == 0) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && fd < kTrackedDescriptors)
            g_open[fd] = OpenFile{false, false, strdup(fileName), true};
        return fd >= 0 ? (HANDLE)(intptr_t)fd : INVALID_HANDLE_VALUE;
    }
    return OpenFileNamed(fileName, desiredAccess, creationDisposition);
}

// A wide name as the stand-in's files are named: Latin-1, without \\?\.
static bool NarrowName(LPCWSTR wide, char *name, size_t capacity)
{
    if (wide[0] == '\\' && wide[1] == '\\' && wide[2] == '?' && wide[3] == '\\')
        wide += 4;
    size_t i = 0;
    for (; wide[i] != 0; ++i) {
        if (i + 1 >= capacity || wide[i] > 0xFF)
            return false;
        name[i] = (char)wide[i];
    }
    name[i] = '\0';
    return true;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE)
{
    size_t length = 0;
    while (fileName[length] != 0 && length + 1 < sizeof g_lastWideName / sizeof g_lastWideName[0])
        ++length;
    memcpy(g_lastWideName, fileName, length * sizeof(WCHAR));
    g_lastWideName[length] = 0;
    char name[4096];
    if (!NarrowName(fileName, name, sizeof name)) {
        g_lastError = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    return OpenFileNamed(name, desiredAccess, creationDisposition);
}

BOOL DeleteFileW(LPCWSTR fileName)
{
    char name[4096];
    if (!NarrowName(fileName, name, sizeof name) || unlink(name) != 0) {
        g_lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    return TRUE;
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int length, LPWSTR wide, int wideLength)
{
    const int count = length < 0 ? (int)strlen(text) + 1 : length;
    if (count > wideLength) {
        g_lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (int i = 0; i < count; ++i)
        wide[i] = (WCHAR)(unsigned char)text[i];
    return count;
}

// Removes a file's streams along with it, as NTFS does.
static void RemoveWithStreams(const char *path)
{
    unlink(path);
    const char *slash = strrchr(path, '/');
    char folder[4096];
    const size_t folderLength = slash == path ? 1 : (size_t)(slash - path);
    if (slash == NULL || folderLength >= sizeof folder)
        return;
    memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    const size_t nameLength = strlen(slash + 1);
    DIR *listing = opendir(folder);
    if (listing == NULL)
        return;
    while (const struct dirent *entry = readdir(listing))
        if (strncmp(entry->d_name, slash + 1, nameLength) == 0 && entry->d_name[nameLength] == ':') {
            char stream[8192];
            snprintf(stream, sizeof stream, "%s/%s", folder, entry->d_name);
            unlink(stream);
        }
    closedir(listing);
}

DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh)
{
    struct stat info;
    if (fstat(DescriptorOf(file), &info) != 0) {
        g_lastError = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    const uint64_t size = (uint64_t)info.st_size;
    if (fileSizeHigh != NULL) {
        *fileSizeHigh = (DWORD)(size >> 32);
    } else if (size > 0xFFFFFFFFu) {
        g_lastError = ERROR_ARITHMETIC_OVERFLOW;
        return INVALID_FILE_SIZE;
    }
    return (DWORD)size;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED)
{
    if (FaultIsSet(kStandInReadingFails)) {
        g_lastError = ERROR_LOCK_VIOLATION;
        *bytesRead = 0;
        return FALSE;
    }
    if (FaultIsSet(kStandInReadingStopsShort))
        bytesToRead /= 2;
    // POSIX may return less than asked for; Windows reads a disk file whole
    // up to its end, so keep reading until the end or an error.
    DWORD total = 0;
    while (total < bytesToRead) {
        const ssize_t got = read(DescriptorOf(file), (char *)buffer + total, bytesToRead - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            g_lastError = ErrorFromErrno(errno);
            *bytesRead = total;
            return FALSE;
        }
        if (got == 0)
            break;
        total += (DWORD)got;
    }
    *bytesRead = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED)
{
    DWORD total = 0;
    while (total < bytesToWrite) {
        const ssize_t put = write(DescriptorOf(file), (const char *)buffer + total, bytesToWrite - total);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            g_lastError = put < 0 ? ErrorFromErrno(errno) : ERROR_DISK_FULL;
            *bytesWritten = total;
            return FALSE;
        }
        total += (DWORD)put;
    }
    *bytesWritten = total;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    if (FaultIsSet(kStandInFlushingFails)) {
        g_lastError = ERROR_LOST_WRITEBEHIND_DATA;
        return FALSE;
    }
    if (fsync(DescriptorOf(file)) != 0) {
        g_lastError = ErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE object)
{
    const int fd = DescriptorOf(object);
    OpenFile *file = Tracked(fd);
    const OpenFile closed = file != NULL ? *file : OpenFile{false, false, NULL, false};
    if (file != NULL)
        *file = OpenFile{false, false, NULL, false};
    if (closed.doomed)
        RemoveWithStreams(closed.path);
    free(closed.path);
    const bool wasWritten = closed.writes;
    if (close(fd) != 0) {
        g_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (wasWritten && FaultIsSet(kStandInClosingAWrittenFileFails)) {
        g_lastError = ERROR_LOST_WRITEBEHIND_DATA;
        return FALSE;
    }
    return TRUE;
}

// Copies text and its NUL when it fits; the length without the NUL, or
// the size needed with it when it does not, as the Win32 path calls answer.
static DWORD CopyPath(const char *text, size_t length, LPSTR buffer, DWORD bufferLength)
{
    if (length + 1 > bufferLength)
        return (DWORD)(length + 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return (DWORD)length;
}

const WCHAR *LastStandInWideName(void)
{
    return g_lastWideName;
}

DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR *filePart)
{
    if (filePart != NULL)
        *filePart = NULL;
    // Windows' own full names (a drive's, a share's, one after \\?\) are
    // full already; the stand-in's files of those names are in the current
    // folder, backslashes being ordinary characters here.
    const bool windowsFull = (fileName[0] == '\\' && fileName[1] == '\\') ||
                             (fileName[0] != '\0' && fileName[1] == ':' && fileName[2] == '\\');
    if (fileName[0] == '/' || windowsFull)
        return CopyPath(fileName, strlen(fileName), buffer, bufferLength);
    char full[8192];
    if (getcwd(full, sizeof full / 2) == NULL) {
        g_lastError = ErrorFromErrno(errno);
        return 0;
    }
    const size_t here = strlen(full);
    const size_t name = strlen(fileName);
    if (here + 1 + name >= sizeof full) {
        g_lastError = ERROR_INVALID_NAME;
        return 0;
    }
    full[here] = '/';
    memcpy(full + here + 1, fileName, name + 1);
    return CopyPath(full, strlen(full), buffer, bufferLength);
}

BOOL GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength)
{
    if (fileName[0] != '/' || bufferLength < 2 || FaultIsSet(kStandInVolumesAreUnknown)) {
        g_lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (OnVolumeWithoutStreams(fileName))
        return CopyPath(g_volumeWithoutStreams, strlen(g_volumeWithoutStreams), volumePathName, bufferLength) <
               bufferLength;
    CopyPath("/", 1, volumePathName, bufferLength);
    return TRUE;
}

BOOL GetVolumeNameForVolumeMountPointA(LPCSTR, LPSTR volumeName, DWORD bufferLength)
{
    return snprintf(volumeName, bufferLength, "%s\\", kVolume) < (int)bufferLength;
}

// The disk's bus, as IOCTL_STORAGE_QUERY_PROPERTY fills its descriptor up
// to the bus type, which is at offset 28.
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED)
{
    const OpenFile *open = Tracked(DescriptorOf(device));
    *returned = 0;
    if (open == NULL || !open->volume || code != 0x002D1400u || g_busType < 0 || outSize < 32) {
        g_lastError = ERROR_INVALID_FUNCTION;
        return FALSE;
    }
    memset(out, 0, 32);
    const ULONG bus = (ULONG)g_busType;
    memcpy((char *)out + 28, &bus, sizeof bus);
    *returned = 32;
    return TRUE;
}

void SetStandInVolumeWithoutStreams(const char *root)
{
    snprintf(g_volumeWithoutStreams, sizeof g_volumeWithoutStreams, "%s", root != NULL ? root : "");
}

UINT GetDriveTypeA(LPCSTR)
{
    return g_driveType;
}

void SetStandInDrive(UINT type, ULONG characteristics, int bus)
{
    g_driveType = type;
    g_deviceCharacteristics = characteristics;
    g_busType = bus;
}

// ntdll's two calls, with the arguments the converter gives them.
static LONG StandInNtSetInformationFile(HANDLE file, void *, void *information, ULONG length, int informationClass)
{
    OpenFile *open = Tracked(DescriptorOf(file));
    if (open == NULL || informationClass != 13 || length != 1)
        return (LONG)0xC000000Du; // STATUS_INVALID_PARAMETER
    const bool doom = *(const BOOLEAN *)information != 0;
    if (doom && FaultIsSet(kStandInMarkingForDeletionFails))
        return (LONG)0xC0000121u; // STATUS_CANNOT_DELETE
    if (!doom && FaultIsSet(kStandInClearingTheDeletionMarkFails))
        return (LONG)0xC0000001u; // STATUS_UNSUCCESSFUL
    if (doom || !FaultIsSet(kStandInClearingTheDeletionMarkIsIgnored))
        open->doomed = doom;
    return 0;
}

static LONG StandInNtQueryInformationFile(HANDLE file, void *, void *information, ULONG length, int informationClass)
{
    struct Standard {
        LONGLONG allocationSize, endOfFile;
        ULONG numberOfLinks;
        BOOLEAN deletePending, directory;
    };
    const OpenFile *open = Tracked(DescriptorOf(file));
    if (open == NULL || informationClass != 5 || length < sizeof(Standard))
        return (LONG)0xC000000Du;
    struct stat info;
    fstat(DescriptorOf(file), &info);
    const Standard standard = {info.st_blocks * 512, info.st_size, (ULONG)info.st_nlink, open->doomed, false};
    memcpy(information, &standard, sizeof standard);
    return 0;
}

static LONG StandInNtQueryVolumeInformationFile(HANDLE file, void *, void *information, ULONG length,
                                                int informationClass)
{
    const OpenFile *open = Tracked(DescriptorOf(file));
    if (open == NULL || length < 8)
        return (LONG)0xC000000Du;
    if (informationClass == 4) { // the device: a disk, with the drive's characteristics
        const ULONG device[2] = {7, g_deviceCharacteristics};
        memcpy(information, device, sizeof device);
        return 0;
    }
    if (informationClass != 5 || length < 12)
        return (LONG)0xC000000Du;
    if (FaultIsSet(kStandInVolumeFlagsAreUnknown))
        return (LONG)0xC0000022u; // STATUS_ACCESS_DENIED
    const ULONG attributes = OnVolumeWithoutStreams(open->path) ? 0 : FILE_NAMED_STREAMS;
    memset(information, 0, 12);
    memcpy(information, &attributes, sizeof attributes);
    return 0;
}

static int g_ntdll;

HMODULE GetModuleHandleA(LPCSTR moduleName)
{
    return strcmp(moduleName, "ntdll.dll") == 0 ? (HMODULE)&g_ntdll : NULL;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName)
{
    if (module != (HMODULE)&g_ntdll)
        return NULL;
    if (strcmp(procName, "NtSetInformationFile") == 0)
        return (FARPROC)(void (*)(void))StandInNtSetInformationFile;
    if (strcmp(procName, "NtQueryInformationFile") == 0)
        return (FARPROC)(void (*)(void))StandInNtQueryInformationFile;
    if (strcmp(procName, "NtQueryVolumeInformationFile") == 0)
        return (FARPROC)(void (*)(void))StandInNtQueryVolumeInformationFile;
    return NULL;
}

DWORD GetLastError(void)
{
    return g_lastError;
}

void SetLastError(DWORD error)
{
    g_lastError = error;
}

static void CopyText(char *target, const char *text)
{
    strncpy(target, text != NULL ? text : "", kStandInTextCapacity - 1);
    target[kStandInTextCapacity - 1] = '\0';
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (g_messageCount < kStandInMessageCapacity) {
        StandInMessage *message = &g_messages[g_messageCount];
        message->owner = owner;
        CopyText(message->text, text);
        CopyText(message->caption, caption);
        message->type = type;
    }
    ++g_messageCount;
    return IDOK;
}

BOOL PeekMessageA(MSG *, HWND, UINT, UINT, UINT)
{
    return FALSE;
}

void PostQuitMessage(int) {}

void SetStandInFaults(unsigned faults)
{
    g_faults = faults;
}

int TakeStandInMessages(StandInMessage *messages, int capacity)
{
    const int recorded = g_messageCount;
    for (int i = 0; i < recorded && i < capacity && i < kStandInMessageCapacity; ++i)
        messages[i] = g_messages[i];
    g_messageCount = 0;
    return recorded;
}
