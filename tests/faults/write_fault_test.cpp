// A write that fails partway, copies that write behind, and conversions
// ended while they run. Under Wine, CTest runs this under a file-size limit
// (see tests/CMakeLists.txt), which makes the write fail as a full disk
// would; elsewhere the write is made to stop partway here. While the write is
// under way, another program tries to open the copy.
#include "conversion.h"
#include "message_capture.h"
#include "reference_line_endings.h"
#include "temp_dir.h"
#include "win32_test_tools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Another program opening a file as a viewer, an editor and a delete would,
// each sharing everything. Exit code: the last open's error, or 0 once one of
// them holds the file, which it then keeps until it is ended.
int OpenLikeAViewer(const char *path, const char *heldEvent)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    for (DWORD access : {(DWORD)GENERIC_READ, (DWORD)GENERIC_WRITE, (DWORD)DELETE})
        if (file == INVALID_HANDLE_VALUE)
            file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return (int)GetLastError();
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, heldEvent);
    SetEvent(held);
    CloseHandle(held);
    Sleep(INFINITE);
    return 0;
}

typedef BOOL(WINAPI *WriteFileFunction)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
WriteFileFunction g_realWriteFile = NULL;
std::string g_destination;
PROCESS_INFORMATION g_viewer = {};
// What the viewer met: an error code, or NO_ERROR when it got the file.
DWORD g_viewerResult = 0xFFFFFFFFu;

// Runs the viewer while the converter's one write of the copy's data is
// under way, then lets the write go on, into the file-size limit, or stops
// it halfway. The copy's mark, a few bytes, is written as it comes.
BOOL WINAPI WriteFileWhileAViewerTries(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (size < 4096)
        return g_realWriteFile(file, bytes, size, written, overlapped);
    if (!g_destination.empty()) {
        const std::string event = "PelmoraViewerHolds" + std::to_string(GetCurrentProcessId());
        HANDLE held = CreateEventA(NULL, TRUE, FALSE, event.c_str());
        if (StartTiedProcess("", "--view \"" + g_destination + "\" " + event, &g_viewer)) {
            HANDLE waits[] = {g_viewer.hProcess, held};
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 20000);
            DWORD code = 0xFFFFFFFFu;
            if (woke == WAIT_OBJECT_0 && GetExitCodeProcess(g_viewer.hProcess, &code))
                g_viewerResult = code;
            else if (woke == WAIT_OBJECT_0 + 1)
                g_viewerResult = NO_ERROR;
        }
        CloseHandle(held);
        g_destination.clear();
    }
    if (std::getenv("PELMORA_FILE_SIZE_LIMIT_KB") == NULL) {
        g_realWriteFile(file, bytes, size / 2, written, overlapped);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return g_realWriteFile(file, bytes, size, written, overlapped);
}

// FlushFileBuffers as the converter meets it: counted, and failing when told.
typedef BOOL(WINAPI *FlushFunction)(HANDLE);
FlushFunction g_realFlush = NULL;
int g_flushes = 0;
bool g_flushFails = false;
BOOL WINAPI FlushFileBuffersCounted(HANDLE file)
{
    ++g_flushes;
    if (g_flushFails) {
        SetLastError(ERROR_UNEXP_NET_ERR);
        return FALSE;
    }
    return g_realFlush(file);
}

// A conversion in a helper process that stops for good, and says so:
// halfway through its write, or at the source's close, which comes once the
// copy is kept. The source is the first file it opens.
HANDLE g_stopped = NULL;
HANDLE g_source = INVALID_HANDLE_VALUE;
typedef HANDLE(WINAPI *CreateFileFunction)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
CreateFileFunction g_realCreateFile = NULL;
BOOL(WINAPI *g_realCloseHandle)(HANDLE) = NULL;
BOOL WINAPI WriteHalfThenStop(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    g_realWriteFile(file, bytes, size / 2, written, overlapped);
    return SignalObjectAndWait(g_stopped, GetCurrentProcess(), INFINITE, FALSE);
}

HANDLE WINAPI CreateFileNotingTheSource(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                        DWORD disposition, DWORD flags, HANDLE model)
{
    HANDLE file = g_realCreateFile(name, access, share, security, disposition, flags, model);
    if (g_source == INVALID_HANDLE_VALUE)
        g_source = file;
    return file;
}

BOOL WINAPI StopAtTheSourcesClose(HANDLE object)
{
    return object == g_source ? SignalObjectAndWait(g_stopped, GetCurrentProcess(), INFINITE, FALSE)
                              : g_realCloseHandle(object);
}

int ConvertAndStop(const std::string &at, const char *windowsPath, const char *unixPath, const char *event)
{
    g_stopped = OpenEventA(EVENT_MODIFY_STATE, FALSE, event);
    if (at == "write")
        g_realWriteFile = (WriteFileFunction)ReplaceImport("kernel32.dll", "WriteFile", (void *)WriteHalfThenStop);
    else {
        g_realCreateFile = (CreateFileFunction)ReplaceImport("kernel32.dll", "CreateFileA", (void *)CreateFileNotingTheSource);
        g_realCloseHandle = (BOOL(WINAPI *)(HANDLE))ReplaceImport("kernel32.dll", "CloseHandle", (void *)StopAtTheSourcesClose);
    }
    ConvertUnixToWindows(unixPath, windowsPath);
    return 3; // it never got there
}

} // namespace

TEST(WriteFault, AConversionEndedMidwayLeavesNoCopyAndOneEndedOnceDoneLeavesAWholeOne)
{
    const fs::path dir = MakeTempDir();
    std::string source;
    for (int i = 0; i < 4000; ++i)
        source += "line " + std::to_string(i) + "\n";
    WriteBytes(dir / "unix.txt", source);
    for (const std::string at : {"write", "kept"}) {
        const std::string copy = Narrow(dir / (at + ".txt"));
        const std::string event = "PelmoraStopped" + std::to_string(GetCurrentProcessId()) + at;
        HANDLE stopped = CreateEventA(NULL, TRUE, FALSE, event.c_str());
        PROCESS_INFORMATION helper = {};
        ASSERT_TRUE(StartTiedProcess("", "--convert-and-stop " + at + " \"" + copy + "\" \"" +
                                             Narrow(dir / "unix.txt") + "\" " + event,
                                     &helper));
        HANDLE waits[] = {stopped, helper.hProcess};
        EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 20000), WAIT_OBJECT_0)
            << at << ": the helper ended or hung before it got there";
        TerminateProcess(helper.hProcess, 9);
        EXPECT_EQ(WaitForSingleObject(helper.hProcess, 10000), WAIT_OBJECT_0);
        CloseHandle(helper.hThread);
        CloseHandle(helper.hProcess);
        CloseHandle(stopped);
        // Ended mid-write, the copy goes with the process's handles.
        WIN32_FILE_ATTRIBUTE_DATA seen;
        for (const DWORD start = GetTickCount();
             at == "write" && GetFileAttributesExA(copy.c_str(), GetFileExInfoStandard, &seen) &&
             GetTickCount() - start < 10000;)
            Sleep(20);
        EXPECT_EQ(ReadBytes(copy), at == "write" ? std::nullopt : std::optional(ReferenceToWindows(source))) << at;
    }
    fs::remove_all(dir);
}

TEST(WriteFault, IncompleteDestinationIsRemovedAndNobodyCanOpenItMeanwhile)
{
    // Set by the test command along with the limit, in KiB; elsewhere the
    // write stops halfway anyway.
    const char *limit = std::getenv("PELMORA_FILE_SIZE_LIMIT_KB");
    const size_t limitBytes = (size_t)(limit != NULL ? std::atoi(limit) : 256) * 1024;

    // The source fits under the limit; its Windows form, twice as long, does not.
    const fs::path dir = MakeTempDir();
    const std::string source(limitBytes * 3 / 4, '\n');
    WriteBytes(dir / "unix.txt", source);
    WriteBytes(dir / "unix.txt:Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
    g_realWriteFile = (WriteFileFunction)ReplaceImport("kernel32.dll", "WriteFile", (void *)WriteFileWhileAViewerTries);
    ASSERT_NE(g_realWriteFile, (WriteFileFunction)NULL);
    g_destination = Narrow(dir / "windows.txt");
    ExpectOneWarning(ConvertAndCapture(NULL, Narrow(dir / "windows.txt"), Narrow(dir / "unix.txt")),
                     "File Conversion Error:\nCannot write the destination file");
    ReplaceImport("kernel32.dll", "WriteFile", (void *)g_realWriteFile);
    if (g_viewer.hProcess != NULL) {
        TerminateProcess(g_viewer.hProcess, 0);
        WaitForSingleObject(g_viewer.hProcess, 10000);
        CloseHandle(g_viewer.hThread);
        CloseHandle(g_viewer.hProcess);
    }

    // Refused for sharing, or (on Windows) because its deletion is pending.
    EXPECT_TRUE(g_viewerResult == ERROR_SHARING_VIOLATION || g_viewerResult == ERROR_ACCESS_DENIED)
        << "what another program met opening the copy: " << g_viewerResult;
    EXPECT_FALSE(fs::exists(dir / "windows.txt"));
    EXPECT_FALSE(fs::exists(dir / "windows.txt:Zone.Identifier")) << "the copy's mark outlived it";
    EXPECT_EQ(ReadBytes(dir / "unix.txt"), source);
    fs::remove_all(dir);
}

TEST(WriteFault, CopiesOnANetworkDriveAreFlushedAndAFailedFlushLeavesNone)
{
    if (GetDriveTypeA("X:\\") != DRIVE_REMOTE)
        GTEST_SKIP() << "X: is not a network drive here; the Wine prefix of the cross build maps one";
    const std::string share = "X:\\pelmora-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(share.c_str(), NULL)) << GetLastError();
    const fs::path local = MakeTempDir();
    WriteBytes(local / "unix.txt", "one\ntwo\n");
    char saved[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(share.c_str()));
    g_realFlush = (FlushFunction)ReplaceImport("kernel32.dll", "FlushFileBuffers", (void *)FlushFileBuffersCounted);
    ASSERT_NE(g_realFlush, (FlushFunction)NULL);
    const struct {
        std::string destination;
        bool flushFails;
        int flushes;
        const char *text;
    } cases[] = {
        {share + "\\windows.txt", false, 1, ""},
        {"relative.txt", false, 1, ""}, // on X: too, though its name does not say so
        {share + "\\failed.txt", true, 1, "File Conversion Error:\nCannot write the destination file"},
        {Narrow(local / "windows.txt"), true, 0, ""}, // C: is a local disk, left to the cache
    };
    for (const auto &c : cases) {
        g_flushes = 0;
        g_flushFails = c.flushFails;
        const auto messages = ConvertAndCapture(NULL, c.destination, Narrow(local / "unix.txt"));
        EXPECT_EQ(g_flushes, c.flushes) << c.destination;
        if (c.text[0] == '\0') {
            EXPECT_TRUE(messages.empty()) << c.destination << ": " << messages[0].text;
            EXPECT_EQ(ReadBytes(c.destination), "one\r\ntwo\r\n");
        } else {
            ExpectOneWarning(messages, c.text);
            EXPECT_FALSE(ReadBytes(c.destination).has_value()) << "the copy that was not written back remains";
        }
        DeleteFileA(c.destination.c_str());
    }
    ReplaceImport("kernel32.dll", "FlushFileBuffers", (void *)g_realFlush);
    SetCurrentDirectoryA(saved);
    RemoveDirectoryA(share.c_str());
    fs::remove_all(local);
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--view")
        return OpenLikeAViewer(argv[2], argv[3]);
    if (argc == 6 && std::string(argv[1]) == "--convert-and-stop")
        return ConvertAndStop(argv[2], argv[3], argv[4], argv[5]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
