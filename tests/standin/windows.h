// A POSIX stand-in for the few Win32 calls the conversion core makes, so the
// core builds and is tested natively. Only what the core relies on is
// honoured: the creation modes it uses, directories that do not open, the
// 32-bit size split, the last-error value, MAX_PATH for the A calls, and a
// file marked for deletion through its handle, which goes (with its
// streams) when that handle closes and takes no new opens meanwhile, not
// even of its streams. A stream "name:stream" is a file of that name. Every
// file is on one drive, the root, of whichever kind a test chooses (a fixed
// disk until then), which keeps streams; a test may make one folder a volume of
// its own without them, as FAT is, where a colon makes a name invalid. Share
// modes are not enforced, since POSIX has no mandatory locking; those cases
// are tested on Wine.
#ifndef PELMORA_STANDIN_WINDOWS_H
#define PELMORA_STANDIN_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define NTAPI

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef unsigned char UCHAR;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef DWORD *LPDWORD;
typedef void *HANDLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef wchar_t WCHAR;
typedef const WCHAR *LPCWSTR;
typedef WCHAR *LPWSTR;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HMODULE;
typedef intptr_t (*FARPROC)(void);
typedef struct SECURITY_ATTRIBUTES_ *LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED_ *LPOVERLAPPED;

#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFFu)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define DELETE 0x00010000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_NAMED_STREAMS 0x00040000u
#define MAX_PATH 260
#define CP_ACP 0u

#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_GEN_FAILURE 31u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_ARITHMETIC_OVERFLOW 534u
#define ERROR_LOST_WRITEBEHIND_DATA 596u
#define ERROR_INVALID_FUNCTION 1u

#define DRIVE_UNKNOWN 0u
#define DRIVE_REMOVABLE 2u
#define DRIVE_FIXED 3u
#define DRIVE_REMOTE 4u
#define DRIVE_CDROM 5u
#define DRIVE_RAMDISK 6u

#define WM_QUIT 0x0012u
#define PM_REMOVE 0x0001u

#define MB_OK 0x00000000u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Takes \\?\ and the full name, and no MAX_PATH limit.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeleteFileW(LPCWSTR fileName);
// The ANSI code page is Latin-1: each byte is the character of its value.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int wideLength);
DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE object);
DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR *filePart);
BOOL GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength);
UINT GetDriveTypeA(LPCSTR rootPathName);
// Every root is the volume \\?\Volume{stand-in}\, which opens (without the
// backslash) as the volume itself, whose disk DeviceIoControl can be asked
// for its bus (IOCTL_STORAGE_QUERY_PROPERTY).
BOOL GetVolumeNameForVolumeMountPointA(LPCSTR volumeMountPoint, LPSTR volumeName, DWORD bufferLength);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED overlapped);
// ntdll.dll, whose NtSetInformationFile and NtQueryInformationFile know the
// disposition (class 13) and the standard information (class 5) of a file,
// and NtQueryVolumeInformationFile the device (class 4) and the attributes
// (class 5) of its volume.
HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
DWORD GetLastError(void);
void SetLastError(DWORD error);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// A thread with no window has no input to drop: the queue is always empty.
typedef struct tagPOINT {
    LONG x, y;
} POINT;
typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG;
BOOL PeekMessageA(MSG *message, HWND window, UINT first, UINT last, UINT removal);
void PostQuitMessage(int exitCode);

#endif
