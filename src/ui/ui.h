// The program's window and About box.
#ifndef PELMORA_UI_H
#define PELMORA_UI_H

#include <windows.h>
#include <commdlg.h>

// A function of a loaded system DLL, looked up at run time, since XP's
// loader refuses to start a program that imports one its DLLs lack; NULL
// where this Windows lacks it. Cast to the function's own type: a generic
// function pointer is the one cast from FARPROC that no compiler warns about.
typedef void (*SystemCall)(void);
SystemCall FindSystemCall(const char *dll, const char *name);

// Keeps DLLs that Windows' own DLLs load by bare name from being taken from
// the program's folder. Called first thing, before any window is made.
void RestrictDllSearch(void);

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the target field from a file dialog: a Save dialog when the other
// field's file exists (the target would be the destination), an Open dialog
// when it does not (the target would be the source).
void BrowseForPath(HWND dialog, OPENFILENAMEA *fileDialog, int targetField, char *targetBuffer, int otherField,
                   char *otherBuffer);

#endif
