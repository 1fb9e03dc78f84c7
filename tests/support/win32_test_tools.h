// Tools of the Windows tests that reach below the program: helper processes
// that cannot outlive the test, calls redirected in this program's import
// table, and a count of the handles this process holds.
#ifndef PELMORA_TEST_WIN32_TEST_TOOLS_H
#define PELMORA_TEST_WIN32_TEST_TOOLS_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Starts a program (this test program when program is empty) with these
// arguments, in a job that ends it when this process ends, however it ends.
// The caller closes the handles.
bool StartTiedProcess(const std::string &program, const std::string &arguments, PROCESS_INFORMATION *process);

// Points this program's import of dll!function elsewhere; the code under test
// is linked in, so its calls go through this table. Returns what the entry
// held, or NULL when the program does not import the function.
void *ReplaceImport(const char *dll, const char *function, void *replacement);

// The handles this process has open.
unsigned long OpenHandleCount();

// Moves the pointer to a point of the screen and waits until the system
// says it is there; false, with what it saw, after the bound.
testing::AssertionResult MovePointerTo(POINT point);

// The block an HDROP handle holds, as Explorer makes it: a DROPFILES record
// with the drop point, then the names in UTF-16, each with its NUL, and one
// more NUL.
std::vector<unsigned char> DropFilesBlock(POINT point, bool onCaption, const std::vector<std::wstring> &names);

#endif
