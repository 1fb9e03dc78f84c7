#include "win32_test_tools.h"

#include <shlobj.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

bool StartTiedProcess(const std::string &program, const std::string &arguments, PROCESS_INFORMATION *process)
{
    // One job for every helper, never closed: the system closes it when this
    // process ends, and the job then ends the helpers.
    static HANDLE job = NULL;
    if (job == NULL) {
        job = CreateJobObjectA(NULL, NULL);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit;
        ZeroMemory(&limit, sizeof limit);
        limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job == NULL || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit))
            return false;
    }
    char self[MAX_PATH] = "";
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string command = "\"" + (program.empty() ? std::string(self) : program) + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    // Suspended until it is in the job, so it cannot get away first.
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, process))
        return false;
    if (!AssignProcessToJobObject(job, process->hProcess)) {
        TerminateProcess(process->hProcess, 1);
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
        ZeroMemory(process, sizeof *process);
        return false;
    }
    ResumeThread(process->hThread);
    return true;
}

void *ReplaceImport(const char *dll, const char *function, void *replacement)
{
    // The headers and thunks of this build's own width: PE32 or PE32+.
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (const IMAGE_IMPORT_DESCRIPTOR *d = (const IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
         d->Name != 0; ++d) {
        if (lstrcmpiA((const char *)(base + d->Name), dll) != 0)
            continue;
        const IMAGE_THUNK_DATA *name = (const IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slot = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
                std::strcmp((const char *)((const IMAGE_IMPORT_BY_NAME *)(base + name->u1.AddressOfData))->Name,
                            function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
            void *previous = (void *)(uintptr_t)slot->u1.Function;
            slot->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            return previous;
        }
    }
    return NULL;
}

unsigned long OpenHandleCount()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return count;
    // Wine answers 0 there, but lists every process's handles in the
    // system's handle table. The entries hold a pointer, so in 64 bits they
    // start 8 bytes in, after the count and its padding.
    struct Entry {
        ULONG processId;
        UCHAR type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    std::vector<Table> table(1 << 12);
    ULONG length = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation((SYSTEM_INFORMATION_CLASS)16, table.data(),
                                              (ULONG)(table.size() * sizeof table[0]), &length)) ==
           (NTSTATUS)0xC0000004L) // STATUS_INFO_LENGTH_MISMATCH
        table.resize(table.size() * 2);
    if (status != 0)
        return 0;
    const Entry *entries = (const Entry *)((const BYTE *)table.data() + offsetof(Table, entries));
    unsigned long mine = 0;
    for (ULONG i = 0; i < table[0].count; ++i)
        mine += entries[i].processId == GetCurrentProcessId();
    return mine;
}

// Where a message posted now finds the pointer, as a drop's message does.
static POINT PointerInAPostedMessage()
{
    MSG message;
    ZeroMemory(&message, sizeof message);
    PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
    while (PeekMessageA(&message, (HWND)-1, WM_NULL, WM_NULL, PM_REMOVE) && message.message != WM_NULL) {
    }
    return message.pt;
}

testing::AssertionResult MovePointerTo(POINT point)
{
    // Under Wine, the display's own events about the pointer, taken late,
    // can put it back where it was: so it is moved until a posted message
    // finds it there twice, 50 ms apart.
    POINT seen = {-1, -1};
    int agreed = 0;
    for (const DWORD start = GetTickCount(); agreed < 2 && GetTickCount() - start < 5000; Sleep(50)) {
        seen = PointerInAPostedMessage();
        agreed = seen.x == point.x && seen.y == point.y ? agreed + 1 : 0;
        if (agreed == 0)
            SetCursorPos(point.x, point.y);
    }
    if (agreed == 2)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the pointer is at " << seen.x << "," << seen.y << ", not " << point.x << ","
                                       << point.y;
}

std::vector<unsigned char> DropFilesBlock(POINT point, bool onCaption, const std::vector<std::wstring> &names)
{
    DROPFILES header;
    ZeroMemory(&header, sizeof header);
    header.pFiles = sizeof header;
    header.pt = point;
    header.fNC = onCaption;
    header.fWide = TRUE;
    std::vector<unsigned char> block((const unsigned char *)&header, (const unsigned char *)(&header + 1));
    for (const std::wstring &name : names)
        block.insert(block.end(), (const unsigned char *)name.c_str(),
                     (const unsigned char *)(name.c_str() + name.size() + 1));
    block.insert(block.end(), sizeof(WCHAR), 0);
    return block;
}
