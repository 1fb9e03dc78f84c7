// Records the message boxes the code under test shows, so tests can check
// their text, caption, style and owner. Natively the stand-in records them;
// on Windows a hook reads each real box and presses its OK button.
#ifndef PELMORA_TEST_MESSAGE_CAPTURE_H
#define PELMORA_TEST_MESSAGE_CAPTURE_H

#include <windows.h>

#include <string>
#include <vector>

struct CapturedMessage {
    HWND owner;
    std::string text;
    std::string caption;
    // The icon bits (MB_ICONWARNING, MB_ICONINFORMATION, ...) and the button
    // bits: MB_OK when the box had an OK button and no other.
    unsigned style;
};

void BeginMessageCapture();
std::vector<CapturedMessage> EndMessageCapture();

// One press of Convert with these paths, the way the window makes it;
// returns the messages it showed.
std::vector<CapturedMessage> ConvertAndCapture(HWND owner, const std::string &windowsPath,
                                               const std::string &unixPath);
// Exactly one message: this text, the caption "Error", the warning icon, an
// OK button only, and this owner.
void ExpectOneWarning(const std::vector<CapturedMessage> &messages, const char *text, HWND owner = NULL);

// A window to own messages; a real hidden one on Windows, a token natively.
HWND CreateOwnerWindow();
void DestroyOwnerWindow(HWND owner);

#endif
