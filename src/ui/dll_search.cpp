// Where DLLs may come from, narrowed before anything loads one by name.
//
// Windows' own DLLs load many others by bare name while a program shows
// themed windows and file dialogs, and a DLL that is not one of the system's
// known DLLs is looked for in the program's own folder before the system
// folder. Pelmora is run from wherever its zip was unpacked, often the
// Downloads folder, where a web page may once have had the browser save a
// version.dll or uxtheme.dll: without this, that file's code would run
// inside Pelmora as soon as its window opened.
//
// What this cannot reach: the DLLs that load with the program itself, before
// WinMain runs. Pelmora imports only known DLLs and the common-controls
// assembly, which the loader takes from the system, so those are safe; the
// guide still says to unpack Pelmora into a folder of its own.
//
// Its cost: code of other makers that runs inside the file dialogs (shell
// extensions) and loads a DLL by bare name, relying on the PATH or on
// LOAD_WITH_ALTERED_SEARCH_PATH, no longer finds it.
#include "ui.h"

#include <string.h>

typedef BOOL(WINAPI *SetDefaultDllDirectoriesCall)(DWORD directoryFlags);
typedef BOOL(WINAPI *SetDllDirectoryCall)(LPCSTR pathName);

// LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS: the system
// folder, and the folders added with AddDllDirectory, of which there are
// none. Never the program's folder.
static const DWORD kSystemFolderOnly = 0x800 | 0x400;

// The DLLs that Windows' own DLLs load by bare name for a window like this
// one, its file dialogs and a drop, and that are not known DLLs.
static const char *const kLoadedByBareName[] = {"userenv",   "setupapi", "apphelp", "propsys",
                                                "dwmapi",    "cryptbase", "oleacc", "clbcatq",
                                                "version",   "uxtheme",  "msimg32"};

SystemCall FindSystemCall(const char *dll, const char *name)
{
    HMODULE module = GetModuleHandleA(dll);
    return module != NULL ? (SystemCall)GetProcAddress(module, name) : NULL;
}

// Loads each DLL of the list from the system folder, so that a later load by
// bare name finds it among the loaded modules, where the loader looks before
// any folder. They stay loaded for the life of the process: that is the
// point. A name the system folder lacks fails to load, and is skipped.
static void LoadSystemCopies(void)
{
    char path[MAX_PATH + 16];
    const UINT folderLength = GetSystemDirectoryA(path, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH)
        return;
    for (size_t i = 0; i < sizeof kLoadedByBareName / sizeof kLoadedByBareName[0]; ++i) {
        const size_t nameLength = strlen(kLoadedByBareName[i]);
        char *name = path + folderLength;
        *name++ = '\\';
        memcpy(name, kLoadedByBareName[i], nameLength);
        memcpy(name + nameLength, ".dll", sizeof ".dll");
        LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

// Nothing here may keep Pelmora from running: a call that fails is passed by.
void RestrictDllSearch(void)
{
    // Takes only the current folder out of the search (after a file dialog,
    // the folder last browsed); it does nothing against the program's folder.
    SetDllDirectoryCall setDllDirectory = (SetDllDirectoryCall)FindSystemCall("kernel32.dll", "SetDllDirectoryA");
    if (setDllDirectory != NULL)
        setDllDirectory("");
    // Windows 8 on, and 7 and Vista with update KB2533623, have the call.
    // Vista (6.0) is left out, as 7-Zip leaves it out: the shell's COM
    // objects are suspected of failing after it there. Where it is missing,
    // left out or fails, the system's copies are loaded first instead.
    SetDefaultDllDirectoriesCall setDefaultDllDirectories =
        (SetDefaultDllDirectoriesCall)FindSystemCall("kernel32.dll", "SetDefaultDllDirectories");
    const int vista = LOWORD(GetVersion()) == 0x0006;
    if (vista || setDefaultDllDirectories == NULL || !setDefaultDllDirectories(kSystemFolderOnly))
        LoadSystemCopies();
}
