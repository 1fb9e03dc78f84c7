// Where the tests find the program: Pelmora.exe beside the test program, or
// the build that PELMORA_EXE names relative to it.
#ifndef PELMORA_TEST_PELMORA_PATH_WIN32_H
#define PELMORA_TEST_PELMORA_PATH_WIN32_H

#include <string>

std::string PelmoraPath();

#endif
