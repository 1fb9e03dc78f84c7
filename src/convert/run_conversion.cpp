#include "conversion.h"

HANDLE OpenExistingFile(const char *path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, NULL);
}

ConversionDirection ProbeConversionDirection(const char *windowsPath, const char *unixPath)
{
    // Both handles are open together, so naming one file twice finds it twice
    // (read sharing lets the second open through) and the pair is refused.
    HANDLE windowsFile = OpenExistingFile(windowsPath);
    HANDLE unixFile = OpenExistingFile(unixPath);
    const bool windowsExists = windowsFile != INVALID_HANDLE_VALUE;
    const bool unixExists = unixFile != INVALID_HANDLE_VALUE;
    if (windowsExists)
        CloseHandle(windowsFile);
    if (unixExists)
        CloseHandle(unixFile);
    if (windowsExists == unixExists)
        return None;
    return windowsExists ? WindowsToUnix : UnixToWindows;
}

void RunConversion(HWND owner, const char *windowsPath, const char *unixPath)
{
    switch (ProbeConversionDirection(windowsPath, unixPath)) {
    case WindowsToUnix:
        ConvertWindowsToUnix(windowsPath, unixPath);
        break;
    case UnixToWindows:
        ConvertUnixToWindows(unixPath, windowsPath);
        break;
    default:
        MessageBoxA(owner, "Neither (or both) of the files\nyou specified exists.", "Error", MB_OK | MB_ICONWARNING);
        break;
    }
}
