// Drives a running Pelmora.exe from another process the way a user would:
// through its window messages. Every wait is bounded, so a program that hangs
// fails the test instead of stalling it.
#ifndef PELMORA_TEST_APP_DRIVER_H
#define PELMORA_TEST_APP_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>

struct App {
    PROCESS_INFORMATION process;
    HWND main;
};

// Starts Pelmora.exe (beside the test program) and waits for its window.
bool StartApp(App *app);
// Ends the program if it still runs and releases its handles.
void StopApp(App *app);
// Waits for the program to end; returns its exit code, or -1 after the bound.
long WaitForExit(App *app, DWORD milliseconds);

// Waits until the program has handled every message sent or posted to it so
// far and is back in a message loop: the command has finished, or a modal
// loop (a message box, a file dialog) runs. False when it did not get there
// within the bound, so that nothing after it can pass by not looking.
bool Settle(const App &app);
bool WaitUntil(const std::function<bool()> &condition, DWORD milliseconds);

void SetField(const App &app, int id, const std::string &text);
std::string GetField(const App &app, int id);
// Clicks a button of the main window without waiting for the command to end.
void Press(const App &app, int id);
// A key as the keyboard would deliver it to a control of the window.
void PressKey(HWND control, WPARAM key);

// The program's visible dialog windows other than the main one: message
// boxes, file dialogs, the About box.
HWND FindDialog(const App &app, const char *caption);
HWND FindMessageBox(const App &app);

struct ShownMessage {
    HWND owner;
    std::string text;
    std::string caption;
    unsigned style; // icon bits, and MB_OK when OK is the only button
};
ShownMessage ReadMessageBox(HWND box);
// Presses a button of a dialog and waits until the dialog has gone.
bool CloseDialogWith(HWND dialog, int button);

#endif
