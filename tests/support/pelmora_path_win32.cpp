#include "pelmora_path_win32.h"

#include <windows.h>

std::string PelmoraPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder(path);
    folder.resize(folder.find_last_of("\\/") + 1);
    return folder + "Pelmora.exe";
}
