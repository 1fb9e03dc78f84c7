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

// Keys pressed and clicks made while the work ran waited in the queue, and
// would be taken now by whatever has the focus: by the message about the
// work, which an Enter or Esc typed ahead would close unread, so that a
// failure passed for the silent success; or, after a success, by the
// window, where a second Convert would report that both files exist. The
// wait cursor said Pelmora was busy, so they are dropped: keys, mouse in the
// client area and on the frame (a click on the close box, as Alt+F4 goes
// with the keys), and touch and pen, which Windows turns into clicks. The
// ranges are written out, since MinGW's WM_MOUSELAST depends on the Windows
// version targeted.
void DropInputMadeWhileBusy(void)
{
    static const UINT kInput[][2] = {{0x100, 0x109}, {0xA0, 0xAD}, {0x200, 0x20E}, {0x240, 0x24F}};
    MSG message;
    for (size_t i = 0; i < sizeof kInput / sizeof kInput[0]; ++i)
        while (PeekMessageA(&message, NULL, kInput[i][0], kInput[i][1], PM_REMOVE))
            if (message.message == WM_QUIT) {
                // Returned whatever the filter; it belongs to whoever asked to quit.
                PostQuitMessage((int)message.wParam);
                return;
            }
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
        DropInputMadeWhileBusy();
        MessageBoxA(owner, "Neither (or both) of the files\nyou specified exists.", "Error", MB_OK | MB_ICONWARNING);
        break;
    }
}
