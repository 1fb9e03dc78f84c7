#include "pelmora_path_win32.h"

#include <windows.h>

#include <cstdlib>

std::string PelmoraPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder(path);
    folder.resize(folder.find_last_of("\\/") + 1);
    // Another build of the program, named relative to this folder.
    const char *other = std::getenv("PELMORA_EXE");
    return folder + (other != NULL && other[0] != '\0' ? other : "Pelmora.exe");
}
