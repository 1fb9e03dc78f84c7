// Faults and awkward paths that real users meet, against the real Win32 file
// API: files held open by other programs, odd spellings of one file, long
// and non-ASCII names. In every case the source must come through unchanged
// and no partial destination may be left.
#include "conversion.h"
#include "message_capture.h"
#include "temp_dir.h"
#include "win32_test_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kNeitherOrBoth[] = "Neither (or both) of the files\nyou specified exists.";
const char kCannotRead[] = "File Conversion Error:\nCannot read the source file";
const char kCannotCreate[] = "File Conversion Error:\nCannot create the destination file";
const char kCannotWrite[] = "File Conversion Error:\nCannot write the destination file";
const char kCopyRemains[] =
    "File Conversion Error:\nCannot write the destination file\nThe incomplete copy could not be removed.";
const char kTooLarge[] = "File Conversion Error:\nFile too large";
const char kNoMemory[] = "File Conversion Error:\nNot enough memory";

// Failures put in this program's imports, where no real file would fail.
BOOL WINAPI ReadFileFails(HANDLE, LPVOID, DWORD, LPDWORD read, LPOVERLAPPED)
{
    *read = 0;
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
}

BOOL WINAPI WriteFileFails(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED)
{
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// A system that refuses any request over 32 MiB, as 64-bit XP does one the
// cache cannot take and any Windows may under memory pressure; and, when
// told, one read or one write (counted from 1) that moves only half of its
// bytes.
const DWORD kLargestRequestTaken = 32u << 20;
BOOL(WINAPI *g_realReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL(WINAPI *g_realWriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
int g_reads = 0, g_writes = 0;
int g_shortRead = 0, g_shortWrite = 0;

DWORD PieceTaken(DWORD size, DWORD *moved, int *requests, int shortRequest)
{
    *moved = 0;
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return size > kLargestRequestTaken ? 0 : ++*requests == shortRequest ? size / 2 : size;
}

BOOL WINAPI ReadFileInSmallPieces(HANDLE file, LPVOID bytes, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    const DWORD taken = PieceTaken(size, read, &g_reads, g_shortRead);
    return taken != 0 && g_realReadFile(file, bytes, taken, read, overlapped);
}

BOOL WINAPI WriteFileInSmallPieces(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    const DWORD taken = PieceTaken(size, written, &g_writes, g_shortWrite);
    return taken != 0 && g_realWriteFile(file, bytes, taken, written, overlapped);
}

// ntdll's calls, looked up through this: every deletion mark is refused
// (STATUS_CANNOT_DELETE, as for a read-only file), and so is every query.
LONG NTAPI FileInformationRefused(HANDLE, void *, void *, ULONG, int)
{
    return (LONG)0xC0000121L;
}

FARPROC WINAPI GetProcAddressRefusingTheDeletionMark(HMODULE, LPCSTR)
{
    return (FARPROC)(void (*)(void))FileInformationRefused;
}

// A heap that refuses blocks of a gibibyte or more, as a full address space
// would; a 64-bit process holds the big file below. MinGW's C runtime
// allocates inside msvcrt.dll, a static one (/MT) through kernel32's heap.
const size_t kRefusedBlock = (size_t)1 << 30;
void *(__cdecl *g_realMalloc)(size_t);
LPVOID(WINAPI *g_realHeapAlloc)(HANDLE, DWORD, SIZE_T);

void *__cdecl MallocRefusingLargeBlocks(size_t size)
{
    return size >= kRefusedBlock ? NULL : g_realMalloc(size);
}

LPVOID WINAPI HeapAllocRefusingLargeBlocks(HANDLE heap, DWORD flags, SIZE_T size)
{
    return size >= kRefusedBlock ? NULL : g_realHeapAlloc(heap, flags, size);
}

// Another process that holds a file open, until the test ends it or itself
// ends: "exclusive" shares nothing, as an editor or a backup tool might;
// "writing" writes and lets others read, as a program writing its log does;
// "locking" reads, lets others read and locks the first byte for itself.
struct HeldFile {
    PROCESS_INFORMATION process = {};

    bool Hold(const std::string &path, const char *how)
    {
        const std::string event = "PelmoraHeld" + std::to_string(GetCurrentProcessId());
        HANDLE ready = CreateEventA(NULL, TRUE, FALSE, event.c_str());
        const bool started = StartTiedProcess("", std::string("--hold ") + how + " \"" + path + "\" " + event, &process);
        const bool held = started && WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0;
        CloseHandle(ready);
        return held;
    }

    ~HeldFile()
    {
        if (process.hProcess != NULL) {
            TerminateProcess(process.hProcess, 0);
            WaitForSingleObject(process.hProcess, 10000);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
};

int HoldFileForever(const std::string &how, const char *path, const char *event)
{
    const bool writing = how == "writing";
    const DWORD access = how == "exclusive" ? GENERIC_READ | GENERIC_WRITE : writing ? GENERIC_WRITE : GENERIC_READ;
    HANDLE file = CreateFileA(path, access, how == "exclusive" ? 0 : FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    OVERLAPPED range;
    ZeroMemory(&range, sizeof range);
    if (how == "locking" && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range))
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, event);
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}

class Faults : public testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir(); }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Name(const std::string &name) const { return Narrow(dir_ / name); }

    static std::vector<CapturedMessage> Convert(const std::string &windowsPath, const std::string &unixPath)
    {
        return ConvertAndCapture(NULL, windowsPath, unixPath);
    }

    fs::path dir_;
};

TEST_F(Faults, SourceHeldByAnotherProgramIsNotConverted)
{
    WriteBytes(Name("busy.txt"), "a\r\nb\r\n");
    for (const char *how : {"exclusive", "writing"}) {
        HeldFile holder;
        ASSERT_TRUE(holder.Hold(Name("busy.txt"), how)) << how;

        // It does not open for reading with others writing it, so to the
        // probe it is absent: a half-written file is no source.
        ExpectOneWarning(Convert(Name("busy.txt"), Name("out.txt")), kNeitherOrBoth);
        EXPECT_FALSE(fs::exists(Name("out.txt"))) << how;

        // Should it become busy only after the probe, the converter says so.
        BeginMessageCapture();
        ConvertWindowsToUnix(Name("busy.txt").c_str(), Name("out.txt").c_str());
        ExpectOneWarning(EndMessageCapture(), kCannotRead);
        EXPECT_FALSE(fs::exists(Name("out.txt"))) << how;
    }
}

TEST_F(Faults, SourceLockedByAnotherProgramCannotBeRead)
{
    WriteBytes(Name("locked.txt"), "a\r\nb\r\n");
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(Name("locked.txt"), "locking"));
    HANDLE file = CreateFileA(Name("locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "the lock must not keep readers from opening the file";
    char bytes[8];
    DWORD got = 0;
    const BOOL read = ReadFile(file, bytes, sizeof bytes, &got, NULL);
    CloseHandle(file);
    if (read)
        GTEST_SKIP() << "this system let a read through another process's byte-range lock (Wine does not enforce "
                        "them; Windows fails the read with ERROR_LOCK_VIOLATION)";

    // The probe finds it, so the conversion starts, and its one read fails.
    ExpectOneWarning(Convert(Name("locked.txt"), Name("out.txt")), kCannotRead);
    EXPECT_FALSE(fs::exists(Name("out.txt")));
}

TEST_F(Faults, DestinationHeldByAnotherProgramIsLeftAlone)
{
    WriteBytes(Name("source.txt"), "a\r\nb\r\n");
    WriteBytes(Name("busy.txt"), "someone else's");
    {
        HeldFile holder;
        ASSERT_TRUE(holder.Hold(Name("busy.txt"), "exclusive"));
        ExpectOneWarning(Convert(Name("source.txt"), Name("busy.txt")), kCannotCreate);
    }
    EXPECT_EQ(ReadBytes(Name("busy.txt")), "someone else's");
    EXPECT_EQ(ReadBytes(Name("source.txt")), "a\r\nb\r\n");
}

TEST_F(Faults, AwkwardButValidNamesConvert)
{
    const std::string folder = Name("");
    // The longest path the 260-byte buffer holds: 259 characters.
    std::string longName = folder + "long-";
    longName += std::string(259 - longName.size() - 4, 'n') + ".txt";
    ASSERT_EQ(longName.size(), 259u);
    const std::string names[][2] = {
        {folder + "my notes.txt", folder + "my notes (unix).txt"},
        {folder + "caf\xE9 r\xE9sum\xE9.txt", folder + "caf\xE9 r\xE9sum\xE9 unix.txt"},
        {longName, folder + "short.txt"},
        {folder + "from-long.txt", longName.substr(0, longName.size() - 5) + "x.txt"},
    };
    for (const auto &pair : names) {
        WriteBytes(pair[0], "one\r\ntwo\r\n");
        const auto messages = Convert(pair[0], pair[1]);
        EXPECT_TRUE(messages.empty()) << pair[0] << ": " << messages[0].text;
        EXPECT_EQ(ReadBytes(pair[1]), "one\ntwo\n") << pair[1];
        EXPECT_EQ(ReadBytes(pair[0]), "one\r\ntwo\r\n");
        DeleteFileA(pair[0].c_str());
        DeleteFileA(pair[1].c_str());
    }
}

TEST_F(Faults, FoldersAndTrailingBackslashesAreNotFiles)
{
    WriteBytes(Name("file.txt"), "x\r\n");
    fs::create_directory(Name("folder"));
    const std::string cases[][2] = {
        {Name("folder"), Name("out.txt")},
        {Name("folder") + "\\", Name("out.txt")},
        {Name("file.txt") + "\\", Name("out.txt")},
        {Name("out.txt"), Name("folder")},
    };
    for (const auto &c : cases) {
        ExpectOneWarning(Convert(c[0], c[1]), kNeitherOrBoth);
        EXPECT_FALSE(fs::exists(Name("out.txt"))) << c[0] << " / " << c[1];
    }
    // A destination that names an existing folder is not replaced.
    BeginMessageCapture();
    ConvertWindowsToUnix(Name("file.txt").c_str(), (Name("folder") + "\\").c_str());
    ExpectOneWarning(EndMessageCapture(), kCannotCreate);
    EXPECT_TRUE(fs::is_directory(Name("folder")));
    EXPECT_EQ(ReadBytes(Name("file.txt")), "x\r\n");
}

TEST_F(Faults, OneFileNamedTwoWaysIsRefused)
{
    const std::string path = Name("Long Source Name.txt");
    WriteBytes(path, "keep\r\nme\r\n");
    std::string upper = path;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return (char)toupper((unsigned char)c); });
    std::string slashes = path;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), shortName, MAX_PATH);
    char saved[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(Name("").c_str()));

    std::vector<std::string> spellings = {upper, slashes, "Long Source Name.txt", ".\\long source name.TXT"};
    if (shortName[0] != '\0' && path != shortName)
        spellings.push_back(shortName);
    else
        std::printf("no short name for %s here\n", path.c_str());
    for (const auto &other : spellings) {
        ExpectOneWarning(Convert(path, other), kNeitherOrBoth);
        ExpectOneWarning(Convert(other, path), kNeitherOrBoth);
    }
    SetCurrentDirectoryA(saved);
    EXPECT_EQ(ReadBytes(path), "keep\r\nme\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// Whether two files hold the same bytes, read a piece at a time: a 32-bit
// test process under Wine has no room for the files whole beside a
// conversion of them.
bool SameBytes(const std::string &one, const std::string &other)
{
    std::ifstream a(one, std::ios::binary), b(other, std::ios::binary);
    return a && b && std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {});
}

TEST_F(Faults, LargeFilesGoInPiecesTheSystemTakesAndEachMustComeWhole)
{
    {
        std::ofstream unixFile(Name("unix.txt"), std::ios::binary), windowsFile(Name("windows.txt"), std::ios::binary);
        for (int i = 0; unixFile.tellp() <= (100 << 20); ++i) {
            const std::string line = "line " + std::to_string(i) + " of a file over 100 MiB";
            unixFile << line << "\n";
            windowsFile << line << "\r\n";
        }
        ASSERT_TRUE(unixFile && windowsFile);
    }
    g_realReadFile = (decltype(g_realReadFile))ReplaceImport("kernel32.dll", "ReadFile", (void *)ReadFileInSmallPieces);
    g_realWriteFile =
        (decltype(g_realWriteFile))ReplaceImport("kernel32.dll", "WriteFile", (void *)WriteFileInSmallPieces);
    ASSERT_TRUE(g_realReadFile != NULL && g_realWriteFile != NULL);
    const struct {
        const char *windowsName, *unixName;
        int shortRead, shortWrite;
        const char *text;
        const char *copy; // what the copy must be, byte for byte
    } cases[] = {
        {"windows.txt", "out.txt", 0, 0, "", "unix.txt"},
        {"out.txt", "unix.txt", 0, 0, "", "windows.txt"},
        {"windows.txt", "out.txt", 3, 0, kCannotRead, NULL},
        {"out.txt", "unix.txt", 0, 3, kCannotWrite, NULL},
    };
    for (const auto &c : cases) {
        g_reads = g_writes = 0;
        g_shortRead = c.shortRead;
        g_shortWrite = c.shortWrite;
        const auto messages = Convert(Name(c.windowsName), Name(c.unixName));
        if (c.copy != NULL) {
            EXPECT_TRUE(messages.empty()) << messages[0].text;
            EXPECT_TRUE(SameBytes(Name("out.txt"), Name(c.copy))) << "the copy is not byte for byte " << c.copy;
        } else {
            ExpectOneWarning(messages, c.text);
        }
        EXPECT_EQ(DeleteFileA(Name("out.txt").c_str()) != 0, c.copy != NULL) << c.windowsName << " / " << c.unixName;
    }
    ReplaceImport("kernel32.dll", "ReadFile", (void *)g_realReadFile);
    ReplaceImport("kernel32.dll", "WriteFile", (void *)g_realWriteFile);
}

// Each outcome of Convert, failures and the warning included, must close
// every handle it opened: a leaked one keeps the user's file open until the
// program ends.
TEST_F(Faults, NoOutcomeLeavesAHandleOpen)
{
    // Marked as downloaded: Wine keeps the mark as a file of the stream's
    // name, which must be beside every copy and beside nothing else.
    WriteBytes(Name("source.txt"), "a\r\nb\r\n");
    WriteBytes(Name("source.txt:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n");
    MakeSparseFile(dir_ / "huge.txt", 0x100000000ull + 10);
    MakeSparseFile(dir_ / "big.txt", 0xFFFFFFFEull);
    g_realMalloc = (void *(__cdecl *)(size_t))(void (*)(void))GetProcAddress(GetModuleHandleA("msvcrt.dll"), "malloc");
    g_realHeapAlloc = (LPVOID(WINAPI *)(HANDLE, DWORD, SIZE_T))(void (*)(void))GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "HeapAlloc");
    const struct {
        const char *windowsName, *unixName;
        void *readFile, *writeFile, *getProcAddress;
        const char *text;
        bool heapRefusesLargeBlocks;
    } cases[] = {
        {"source.txt", "out.txt", NULL, NULL, NULL, "", false},
        {"out.txt", "source.txt", NULL, NULL, NULL, "", false},
        {"none.txt", "out.txt", NULL, NULL, NULL, kNeitherOrBoth, false},
        {"source.txt", "source.txt", NULL, NULL, NULL, kNeitherOrBoth, false},
        {"source.txt", "out.txt", (void *)ReadFileFails, NULL, NULL, kCannotRead, false},
        {"huge.txt", "out.txt", NULL, NULL, NULL, kTooLarge, false},
#ifndef _WIN64
        {"big.txt", "out.txt", NULL, NULL, NULL, kNoMemory, false}, // more than a 32-bit process can hold
#endif
        {"big.txt", "out.txt", NULL, NULL, NULL, kNoMemory, true},
        {"source.txt", "no-folder\\out.txt", NULL, NULL, NULL, kCannotCreate, false},
        {"source.txt", "out.txt", NULL, (void *)WriteFileFails, NULL, kCannotWrite, false},
        {"source.txt", "out.txt", NULL, NULL, (void *)GetProcAddressRefusingTheDeletionMark, kCopyRemains, false},
    };
    // The first round lets the system set up what it keeps for later calls
    // (a message box's resources, say); the second is counted.
    for (int round = 0; round < 2; ++round)
        for (const auto &c : cases) {
            const unsigned long before = OpenHandleCount();
            ASSERT_GT(before, 0ul) << "cannot count this process's handles";
            void *heap = c.heapRefusesLargeBlocks ? (void *)HeapAllocRefusingLargeBlocks : NULL;
            struct {
                const char *dll, *name;
                void *replacement, *real;
            } patches[] = {{"kernel32.dll", "ReadFile", c.readFile, NULL},
                           {"kernel32.dll", "WriteFile", c.writeFile, NULL},
                           {"kernel32.dll", "GetProcAddress", c.getProcAddress, NULL},
                           {"msvcrt.dll", "malloc", c.heapRefusesLargeBlocks ? (void *)MallocRefusingLargeBlocks : NULL, NULL},
                           {"kernel32.dll", "HeapAlloc", heap, NULL}};
            for (auto &patch : patches)
                if (patch.replacement != NULL)
                    patch.real = ReplaceImport(patch.dll, patch.name, patch.replacement);
            if (c.heapRefusesLargeBlocks) {
                ASSERT_TRUE(patches[3].real != NULL || patches[4].real != NULL) << "neither malloc nor HeapAlloc is imported";
            }
            const auto messages = Convert(Name(c.windowsName), Name(c.unixName));
            for (const auto &patch : patches)
                if (patch.replacement != NULL)
                    ReplaceImport(patch.dll, patch.name, patch.real);
            if (c.text[0] == '\0') {
                EXPECT_TRUE(messages.empty()) << messages[0].text;
            } else {
                ExpectOneWarning(messages, c.text);
            }
            // A copy is there when it was made, or when the user was told it
            // remains, and its mark with it.
            const bool copied = c.text[0] == '\0' || c.text == kCopyRemains;
            EXPECT_EQ(DeleteFileA(Name("out.txt").c_str()) != 0, copied) << c.text;
            EXPECT_EQ(ReadBytes(Name("out.txt:Zone.Identifier")),
                      copied ? ReadBytes(Name("source.txt:Zone.Identifier")) : std::nullopt)
                << c.text;
            DeleteFileA(Name("out.txt:Zone.Identifier").c_str());
            const unsigned long after = OpenHandleCount();
            EXPECT_TRUE(round == 0 || after == before) << before << " handles before and " << after << " after "
                                                       << c.windowsName << " / " << c.unixName << ": \"" << c.text
                                                       << "\"";
        }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::string(argv[1]) == "--hold")
        return HoldFileForever(argv[2], argv[3], argv[4]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
