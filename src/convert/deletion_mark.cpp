// The copy that is complete or absent. It is doomed from the moment it
// exists until it is whole: marked for deletion through its own handle, so
// that if Pelmora is ended while it writes (Task Manager, "Close the
// program", a crash, logging off) the system removes it with the handle.
// Before the deletion mark is cleared, a copy on a drive that writes behind
// is flushed, so that it counts as whole only once the drive has it.
#include "copy_safeguards.h"

#include <stddef.h>
#include <string.h>

enum { kFileStandardInformation = 5, kFileDispositionInformation = 13 };

struct IoStatusBlock {
    union {
        LONG status;
        void *pointer;
    } result;
    ULONG_PTR information;
};

FileInformationCall FindFileInformationCall(const char *name)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    // Through a generic function pointer, the one cast from FARPROC that
    // no compiler warns about.
    return ntdll != NULL ? (FileInformationCall)(void (*)(void))GetProcAddress(ntdll, name) : NULL;
}

int QueryVolumeOf(HANDLE file, int informationClass, void *information, ULONG length)
{
    FileInformationCall query = FindFileInformationCall("NtQueryVolumeInformationFile");
    IoStatusBlock status;
    return query != NULL && query(file, &status, information, length, informationClass) >= 0;
}

struct FileStandardInformation {
    LONGLONG allocationSize;
    LONGLONG endOfFile;
    ULONG numberOfLinks;
    BOOLEAN deletePending;
    BOOLEAN directory;
};

int MarkForDeletion(HANDLE file, BOOLEAN doomed)
{
    FileInformationCall set = FindFileInformationCall("NtSetInformationFile");
    IoStatusBlock status;
    return set != NULL && set(file, &status, &doomed, sizeof doomed, kFileDispositionInformation) >= 0;
}

// A file system that ignored the clear would delete a finished copy at
// close while Pelmora reported success; so the deletion mark is read back.
int KeepCopy(HANDLE destination, int *doomed)
{
    FileInformationCall query = FindFileInformationCall("NtQueryInformationFile");
    if (query == NULL || !MarkForDeletion(destination, FALSE))
        return 0;
    FileStandardInformation information;
    IoStatusBlock status;
    if (query(destination, &status, &information, sizeof information, kFileStandardInformation) < 0) {
        *doomed = 0; // cleared, most likely, but nobody can say
        return 0;
    }
    *doomed = information.deletePending != 0;
    return !*doomed;
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
int CopyWritesBehind(HANDLE destination, const char *destinationPath)
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
