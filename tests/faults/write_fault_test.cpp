// A write that fails partway. CTest runs this under a file-size limit (see
// tests/CMakeLists.txt), which makes the write fail as a full disk would.
// While the write is under way, another program tries to open the copy.
#include "message_capture.h"
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

// Another program opening a file the way a viewer does: for reading, sharing
// reading and writing but not deleting. Exit code: the error, or 0 once it
// holds the file, which it then keeps until it is ended.
int OpenLikeAViewer(const char *path, const char *heldEvent)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
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

// Runs the viewer while the converter's one write is under way, then lets
// the write go on, into the file-size limit.
BOOL WINAPI WriteFileWhileAViewerTries(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
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
    return g_realWriteFile(file, bytes, size, written, overlapped);
}

} // namespace

TEST(WriteFault, IncompleteDestinationIsRemovedAndNobodyCanOpenItMeanwhile)
{
    // Set by the test command along with the limit, in KiB.
    const char *limit = std::getenv("PELMORA_FILE_SIZE_LIMIT_KB");
    ASSERT_NE(limit, nullptr) << "run through ctest, which sets the limit";
    const size_t limitBytes = (size_t)std::atoi(limit) * 1024;

    // The source fits under the limit; its Windows form, twice as long, does not.
    const fs::path dir = MakeTempDir();
    const std::string source(limitBytes * 3 / 4, '\n');
    WriteBytes(dir / "unix.txt", source);
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

    EXPECT_EQ(g_viewerResult, (DWORD)ERROR_SHARING_VIOLATION) << "what another program met opening the copy";
    EXPECT_FALSE(fs::exists(dir / "windows.txt"));
    EXPECT_EQ(ReadBytes(dir / "unix.txt"), source);
    fs::remove_all(dir);
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--view")
        return OpenLikeAViewer(argv[2], argv[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
