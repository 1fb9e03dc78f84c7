// Faults and awkward paths that real users meet, against the real Win32 file
// API: files held open by other programs, odd spellings of one file, long
// and non-ASCII names. In every case the source must come through unchanged
// and no partial destination may be left.
#include "conversion.h"
#include "message_capture.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kNeitherOrBoth[] = "Neither (or both) of the files\nyou specified exists.";
const char kCannotRead[] = "File Conversion Error:\nCannot read the source file";
const char kCannotCreate[] = "File Conversion Error:\nCannot create the destination file";

std::string SelfPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, MAX_PATH);
    return path;
}

// Another process that holds a file open without sharing it at all, as an
// editor or a backup tool might, until the test ends it.
struct HeldFile {
    PROCESS_INFORMATION process = {};

    bool Hold(const std::string &path)
    {
        const std::string event = "PelmoraHeld" + std::to_string(GetCurrentProcessId());
        HANDLE ready = CreateEventA(NULL, TRUE, FALSE, event.c_str());
        std::string command = "\"" + SelfPath() + "\" --hold \"" + path + "\" " + event;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        const bool started =
            CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process) != 0;
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

int HoldFileForever(const char *path, const char *event)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, event);
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(INFINITE);
    CloseHandle(file);
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
    HeldFile holder;
    ASSERT_TRUE(holder.Hold(Name("busy.txt")));

    // It does not open for reading, so to the probe it is absent.
    ExpectOneWarning(Convert(Name("busy.txt"), Name("out.txt")), kNeitherOrBoth);
    EXPECT_FALSE(fs::exists(Name("out.txt")));

    // Should it become busy only after the probe, the converter says so.
    BeginMessageCapture();
    ConvertWindowsToUnix(Name("busy.txt").c_str(), Name("out.txt").c_str());
    ExpectOneWarning(EndMessageCapture(), kCannotRead);
    EXPECT_FALSE(fs::exists(Name("out.txt")));
}

TEST_F(Faults, DestinationHeldByAnotherProgramIsLeftAlone)
{
    WriteBytes(Name("source.txt"), "a\r\nb\r\n");
    WriteBytes(Name("busy.txt"), "someone else's");
    {
        HeldFile holder;
        ASSERT_TRUE(holder.Hold(Name("busy.txt")));
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

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--hold")
        return HoldFileForever(argv[2], argv[3]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
