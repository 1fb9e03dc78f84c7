// The Convert command on real files: which way it goes, what it writes, and
// what the user is told when it cannot.
#include "conversion.h"
#include "message_capture.h"
#include "reference_line_endings.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include "standin_messages.h"

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/vfs.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kNeitherOrBoth[] = "Neither (or both) of the files\nyou specified exists.";
const char kCannotRead[] = "File Conversion Error:\nCannot read the source file";
const char kCannotCreate[] = "File Conversion Error:\nCannot create the destination file";
const char kCannotWrite[] = "File Conversion Error:\nCannot write the destination file";
const char kTooLarge[] = "File Conversion Error:\nFile too large";
const char kNoMemory[] = "File Conversion Error:\nNot enough memory";
const char kCopyRemains[] =
    "File Conversion Error:\nCannot write the destination file\nThe incomplete copy could not be removed.";

class Conversion : public testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir(); }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Path(const std::string &name) const { return dir_ / name; }
    std::string Name(const std::string &name) const { return Narrow(Path(name)); }
    static std::vector<CapturedMessage> Convert(const std::string &windowsPath, const std::string &unixPath,
                                                HWND owner = NULL)
    {
        return ConvertAndCapture(owner, windowsPath, unixPath);
    }

    fs::path dir_;
};

TEST_F(Conversion, ProbeFollowsWhichFileExists)
{
    WriteBytes(Path("present.txt"), "x");
    WriteBytes(Path("other.txt"), "y");
    fs::create_directory(Path("folder"));
    const std::string present = Name("present.txt");
    const std::string other = Name("other.txt");
    const std::string missing = Name("missing.txt");
    const std::string folder = Name("folder");

    const struct {
        std::string windowsPath, unixPath;
        ConversionDirection expected;
    } cases[] = {
        {present, missing, WindowsToUnix},
        {missing, present, UnixToWindows},
        {present, "", WindowsToUnix},
        {"", present, UnixToWindows},
        {missing, missing, None},
        {"", "", None},
        {present, other, None},
        {present, present, None},          // one file named twice
        {missing, folder, None},           // a folder is not a file
        {folder, missing, None},
        {folder, present, UnixToWindows},
        {Name("missing-folder/x.txt"), present, UnixToWindows},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProbeConversionDirection(c.windowsPath.c_str(), c.unixPath.c_str()), c.expected)
            << "windows \"" << c.windowsPath << "\", unix \"" << c.unixPath << "\"";
}

TEST_F(Conversion, ConvertsWholeFilesInTheDirectionTheProbeFinds)
{
    const struct {
        std::string source;
        bool fromWindows;
        std::string expected;
    } cases[] = {
        {"x\r\ny\r\n", true, "x\ny\n"},
        {"no line ends", true, "no line ends"},
        {"x\ry", true, "x\ry"},
        {"xyz\r", true, "xyz\r"},
        {"\r\r\n", true, "\r\n"},
        {std::string("\x8D\x8A\0\r\n\0", 6), true, std::string("\x8D\x8A\0\n\0", 5)},
        {"", true, ""},
        {"x\ny", false, "x\r\ny"},
        {"\n\n", false, "\r\n\r\n"},
        {"x\r\n", false, "x\r\r\n"},
        {std::string("\x8D\x8A\0\n", 4), false, std::string("\x8D\x8A\0\r\n", 5)},
        {"", false, ""},
        // Text that Windows writes as UTF-16 or UTF-32 converts in its own units.
        {Utf16(false, u"\uFEFFone\r\ntwo\r\n\u010A"), true, Utf16(false, u"\uFEFFone\ntwo\n\u010A")},
        {Utf16(true, u"\uFEFFone\ntwo\u0D0A"), false, Utf16(true, u"\uFEFFone\r\ntwo\u0D0A")},
        {Utf32(false, U"\uFEFFone\ntwo\n"), false, Utf32(false, U"\uFEFFone\r\ntwo\r\n")},
    };
    int index = 0;
    for (const auto &c : cases) {
        const std::string windowsName = Name("w" + std::to_string(index) + ".txt");
        const std::string unixName = Name("u" + std::to_string(index) + ".txt");
        ++index;
        const std::string &sourceName = c.fromWindows ? windowsName : unixName;
        const std::string &destinationName = c.fromWindows ? unixName : windowsName;
        WriteBytes(sourceName, c.source);

        const auto messages = Convert(windowsName, unixName);

        EXPECT_TRUE(messages.empty()) << messages.size() << " message(s), first: " << messages[0].text;
        EXPECT_EQ(ReadBytes(destinationName), c.expected) << testing::PrintToString(c.source);
        EXPECT_EQ(ReadBytes(sourceName), c.source);
    }
}

TEST_F(Conversion, WarnsOwnedByTheWindowWhenNeitherOrBothExist)
{
    const std::string windowsName = Name("notes.txt");
    const std::string unixName = Name("notes-unix.txt");
    HWND owner = CreateOwnerWindow();

    // Neither exists.
    ExpectOneWarning(Convert(windowsName, unixName, owner), kNeitherOrBoth, owner);
    EXPECT_FALSE(fs::exists(windowsName));
    EXPECT_FALSE(fs::exists(unixName));

    // A first Convert succeeds silently; pressing it again finds both files
    // and touches neither.
    WriteBytes(windowsName, "a\r\nb\r\n");
    EXPECT_TRUE(Convert(windowsName, unixName, owner).empty());
    WriteBytes(unixName, "changed by the user\n");
    ExpectOneWarning(Convert(windowsName, unixName, owner), kNeitherOrBoth, owner);
    EXPECT_EQ(ReadBytes(windowsName), "a\r\nb\r\n");
    EXPECT_EQ(ReadBytes(unixName), "changed by the user\n");

    // The same file in both fields.
    ExpectOneWarning(Convert(windowsName, windowsName, owner), kNeitherOrBoth, owner);
    EXPECT_EQ(ReadBytes(windowsName), "a\r\nb\r\n");

    DestroyOwnerWindow(owner);
}

TEST_F(Conversion, DestinationThatCannotBeCreatedIsReportedAndSourceKept)
{
    WriteBytes(Path("source.txt"), "a\r\n");

    // A folder that does not exist, and an empty Unix field.
    ExpectOneWarning(Convert(Name("source.txt"), Name("no-such-folder/out.txt")), kCannotCreate);
    ExpectOneWarning(Convert(Name("source.txt"), ""), kCannotCreate);
    EXPECT_FALSE(fs::exists(Path("no-such-folder")));
    EXPECT_EQ(ReadBytes(Path("source.txt")), "a\r\n");
}

TEST_F(Conversion, NeverTruncatesAFileThatAppearedAtTheDestination)
{
    // The probe saw no destination, but one is there by the time the
    // converter runs: it is the user's file and stays as it was.
    WriteBytes(Path("source.txt"), "a\r\nb\r\n");
    WriteBytes(Path("late.txt"), "precious");
    BeginMessageCapture();
    ConvertWindowsToUnix(Name("source.txt").c_str(), Name("late.txt").c_str());
    ExpectOneWarning(EndMessageCapture(), kCannotCreate);
    EXPECT_EQ(ReadBytes(Path("late.txt")), "precious");

    // A folder in the destination's place is not replaced either.
    fs::create_directory(Path("folder"));
    BeginMessageCapture();
    ConvertUnixToWindows(Name("source.txt").c_str(), Name("folder").c_str());
    ExpectOneWarning(EndMessageCapture(), kCannotCreate);
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    EXPECT_EQ(ReadBytes(Path("source.txt")), "a\r\nb\r\n");
}

TEST_F(Conversion, SourceThatCannotBeReadCreatesNothing)
{
    // Gone after the probe; and, faked here, a read that fails (a range that
    // another program has locked) or comes back short.
    WriteBytes(Path("source.txt"), "one\r\ntwo\ntwo\r\n");
    const struct {
        const char *source;
        unsigned faults;
    } cases[] = {
        {"gone.txt", 0},
#ifndef _WIN32
        {"source.txt", kStandInReadingFails},
        {"source.txt", kStandInReadingStopsShort},
#endif
    };
    for (const auto &c : cases)
        for (auto convert : {ConvertWindowsToUnix, ConvertUnixToWindows}) {
            BeginMessageCapture();
#ifndef _WIN32
            SetStandInFaults(c.faults);
#endif
            convert(Name(c.source).c_str(), Name("out.txt").c_str());
#ifndef _WIN32
            SetStandInFaults(0);
#endif
            ExpectOneWarning(EndMessageCapture(), kCannotRead);
            EXPECT_FALSE(fs::exists(Path("out.txt"))) << c.source << " " << c.faults;
        }
    EXPECT_EQ(ReadBytes(Path("source.txt")), "one\r\ntwo\ntwo\r\n");
}

TEST_F(Conversion, SourcesOfFourGibibytesOrMoreAreTooLarge)
{
    // 4 GiB + 10 must not pass as a 10-byte file, and 0xFFFFFFFF bytes leaves
    // no room for the terminating NUL.
    for (uint64_t size : {0x100000000ull + 10, 0xFFFFFFFFull}) {
        MakeSparseFile(Path("huge.txt"), size);
        for (bool fromWindows : {true, false}) {
            const auto messages = fromWindows ? Convert(Name("huge.txt"), Name("out.txt"))
                                              : Convert(Name("out.txt"), Name("huge.txt"));
            ExpectOneWarning(messages, kTooLarge);
            EXPECT_FALSE(fs::exists(Path("out.txt"))) << size;
        }
        EXPECT_EQ(fs::file_size(Path("huge.txt")), size);
        fs::remove(Path("huge.txt"));
    }
}

#ifdef _WIN32

#ifndef _WIN64
// A 32-bit process alone: a 64-bit one can hold the file, and converts it.
TEST_F(Conversion, SourceTooBigForA32BitProcessIsOutOfMemory)
{
    // Just under 4 GiB passes the size check, but this process cannot hold it.
    MakeSparseFile(Path("big.txt"), 0xFFFFFFFEull);
    ExpectOneWarning(Convert(Name("big.txt"), Name("out.txt")), kNoMemory);
    EXPECT_FALSE(fs::exists(Path("out.txt")));
}
#endif

#else

// Limits set with setrlimit, put back when the test ends.
struct ScopedLimit {
    ScopedLimit(int which, rlim_t limit) : resource(which)
    {
        getrlimit(resource, &saved);
        struct rlimit lowered = saved;
        lowered.rlim_cur = limit;
        setrlimit(resource, &lowered);
    }
    ~ScopedLimit() { setrlimit(resource, &saved); }
    int resource;
    struct rlimit saved;
};

TEST_F(Conversion, CopyThatCannotBeFinishedIsRemovedOrSaidToRemain)
{
    // A file-size limit makes the write fail partway, as a full disk would;
    // the stand-in fakes the drive (its root's type, what the copy's handle
    // says of its device, its disk's bus), a flush whose write-back fails, a
    // failed close, and a deletion mark that is refused, cannot be cleared or
    // is cleared in name only. Only a destination that is not on a local
    // fixed disk (or RAM disk) is flushed, so a failing flush there is never
    // met. The stand-in has no DeleteFileA: nothing may be deleted by name.
    const ULONG remote = 0x10, removable = 0x1;
    const int usb = 7, busNotTold = -1;
    const unsigned closeFails = kStandInClosingAWrittenFileFails;
    const unsigned markFails = kStandInMarkingForDeletionFails;
    const unsigned clearFails = kStandInClearingTheDeletionMarkFails;
    const unsigned flushFails = kStandInFlushingFails;
    const struct {
        bool writeFails;
        unsigned faults;
        UINT drive;
        const char *text; // NULL: converted, silently
        bool relative;    // the destination named relative to the current folder
        ULONG device = 0; // the copy's volume's characteristics, as its handle tells them
        int bus = 3;      // ATA
    } cases[] = {
        {true, 0, DRIVE_FIXED, kCannotWrite, false},
        {false, markFails, DRIVE_FIXED, kCopyRemains, false}, // refused before anything was written
        {false, clearFails, DRIVE_FIXED, kCannotWrite, false},
        {false, kStandInClearingTheDeletionMarkIsIgnored, DRIVE_FIXED, kCannotWrite, false},
        {false, flushFails, DRIVE_REMOTE, kCannotWrite, false},
        {false, flushFails, DRIVE_REMOVABLE, kCannotWrite, false},
        {false, flushFails, DRIVE_UNKNOWN, kCannotWrite, false},
        {false, flushFails | kStandInVolumesAreUnknown, DRIVE_FIXED, kCannotWrite, false},
        {false, flushFails | clearFails, DRIVE_REMOTE, kCannotWrite, false},
        {false, flushFails, DRIVE_FIXED, NULL, false},
        {false, flushFails, DRIVE_RAMDISK, NULL, false},
        {false, flushFails, DRIVE_FIXED, NULL, true}, // its drive is the current folder's, not the boot volume's
        // A root that says fixed, under a file whose own volume is a share
        // or removable (reached through a junction), or a USB disk.
        {false, flushFails, DRIVE_FIXED, kCannotWrite, false, remote},
        {false, flushFails, DRIVE_FIXED, kCannotWrite, false, removable},
        {false, flushFails, DRIVE_FIXED, kCannotWrite, false, 0, usb},
        {false, flushFails, DRIVE_FIXED, NULL, false, 0, busNotTold},
        {false, 0, DRIVE_REMOTE, NULL, false},
        {false, closeFails, DRIVE_FIXED, kCopyRemains, false}, // closed: it is not deleted by name
    };
    const std::string source = std::string(200000, 'x') + "\n";
    WriteBytes(Path("source.txt"), source);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        std::vector<CapturedMessage> messages;
        {
            ScopedLimit limit(RLIMIT_FSIZE, c.writeFails ? 65536 : RLIM_INFINITY);
            const fs::path saved = fs::current_path();
            fs::current_path(dir_);
            SetStandInFaults(c.faults);
            SetStandInDrive(c.drive, c.device, c.bus);
            messages = Convert(c.relative ? "out.txt" : Name("out.txt"), Name("source.txt"));
            SetStandInDrive(DRIVE_FIXED, 0, 3);
            SetStandInFaults(0);
            fs::current_path(saved);
        }
        if (c.text == NULL) {
            EXPECT_TRUE(messages.empty()) << c.faults << " drive " << c.drive << " bus " << c.bus << ": "
                                          << messages[0].text;
            EXPECT_EQ(ReadBytes(Path("out.txt")), std::string(200000, 'x') + "\r\n") << c.faults;
        } else {
            ExpectOneWarning(messages, c.text);
            // Only a copy that could not be removed may remain, and the user is told.
            EXPECT_EQ(fs::exists(Path("out.txt")), c.text == kCopyRemains)
                << c.writeFails << " " << c.faults << " drive " << c.drive << " device " << c.device << " bus " << c.bus;
        }
        fs::remove(Path("out.txt"));
        EXPECT_EQ(ReadBytes(Path("source.txt")), source);
    }
    std::signal(SIGXFSZ, SIG_DFL);
}

TEST_F(Conversion, TheCopyKeepsItsSourcesMarkOfTheWeb)
{
    // Streams are files named "name:stream" here; the folder "fat" is a
    // volume without them, and the long names take the mark's stream past
    // MAX_PATH, where the stand-in's A calls stop.
    const std::string mark = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/x.ps1\r\n";
    const std::string none = "(none)";
    fs::create_directory(Path("fat"));
    std::string longName = Name("long-");
    longName += std::string(255 - longName.size() - 4, 'n') + ".txt";
    const struct {
        std::string source, destination, sourceMark;
        unsigned faults;
        const char *text; // NULL: converted, silently
        std::string copyMark;
    } cases[] = {
        {Name("a.txt"), Name("b.txt"), mark, 0, NULL, mark},
        {Name("a.txt"), Name("b.txt"), none, 0, NULL, none},
        {Name("a.txt"), Name("b.txt"), "", 0, NULL, ""},
        {Name("a.txt"), longName, mark, 0, NULL, mark},
        {longName, Name("b.txt"), mark, 0, NULL, mark},
        {Name("a.txt"), Name("fat/b.txt"), mark, 0, NULL, none}, // as Windows itself copies to FAT
        {Name("fat/a.txt"), Name("b.txt"), none, 0, NULL, none}, // no mark can be there, and none is asked for
        {Name("a.txt"), Name("b.txt"), mark, kStandInCreatingAMarkFails, kCannotWrite, none},
        // A volume that will not say whether it keeps streams is taken to keep them.
        {Name("a.txt"), Name("b.txt"), mark, kStandInCreatingAMarkFails | kStandInVolumeFlagsAreUnknown, kCannotWrite,
         none},
        {Name("a.txt"), Name("b.txt"), mark, kStandInFlushingFails, kCannotWrite, none},
        {Name("a.txt"), Name("b.txt"), std::string(65537, 'z'), 0, kCannotRead, none},
        {Name("a.txt"), Name("b.txt"), "folder", 0, kCannotRead, none}, // a mark that will not open
    };
    for (const auto &c : cases) {
        WriteBytes(c.source, "one\ntwo\n");
        if (c.sourceMark == "folder")
            fs::create_directory(c.source + ":Zone.Identifier");
        else if (c.sourceMark != none)
            WriteBytes(c.source + ":Zone.Identifier", c.sourceMark);
        SetStandInVolumeWithoutStreams(Name("fat").c_str());
        SetStandInFaults(c.faults);
        SetStandInDrive(DRIVE_REMOTE, 0, 3); // flushed, so that a failing flush is met
        const auto messages = Convert(c.destination, c.source);
        SetStandInDrive(DRIVE_FIXED, 0, 3);
        SetStandInFaults(0);
        SetStandInVolumeWithoutStreams(NULL);
        const std::string shown = c.destination + " from " + c.source + " faults " + std::to_string(c.faults);
        if (c.text == NULL) {
            EXPECT_TRUE(messages.empty()) << shown << ": " << messages[0].text;
            EXPECT_EQ(ReadBytes(c.destination), "one\r\ntwo\r\n") << shown;
        } else {
            ExpectOneWarning(messages, c.text);
            EXPECT_FALSE(fs::exists(c.destination)) << shown;
        }
        EXPECT_EQ(ReadBytes(c.destination + ":Zone.Identifier").value_or(none), c.copyMark) << shown;
        for (const std::string &name : {c.source, c.destination})
            fs::remove_all(name), fs::remove_all(name + ":Zone.Identifier");
    }
}

TEST_F(Conversion, TheMarkIsLookedForUnderTheSourcesWholeName)
{
    // Each Windows name is, to the stand-in, a file in the current folder,
    // and its own full name, as Windows would make it.
    const fs::path saved = fs::current_path();
    fs::current_path(dir_);
    const std::string here = Narrow(dir_);
    const struct {
        std::string source;
        std::wstring mark;
    } cases[] = {
        {"C:\\dir\\f.txt", L"\\\\?\\C:\\dir\\f.txt:Zone.Identifier"},
        {"\\\\server\\share\\dir\\f.txt", L"\\\\?\\UNC\\server\\share\\dir\\f.txt:Zone.Identifier"},
        {"\\\\?\\C:\\f.txt", L"\\\\?\\C:\\f.txt:Zone.Identifier"},
        {"f.txt", L"\\\\?\\" + std::wstring(here.begin(), here.end()) + L"/f.txt:Zone.Identifier"},
    };
    for (const auto &c : cases) {
        WriteBytes(Path(c.source), "a\n");
        BeginMessageCapture();
        ConvertUnixToWindows(c.source.c_str(), Name("out.txt").c_str());
        EXPECT_TRUE(EndMessageCapture().empty()) << c.source;
        EXPECT_EQ(std::wstring(LastStandInWideName()), c.mark) << c.source;
        fs::remove(Path("out.txt"));
    }
    fs::current_path(saved);
}

TEST_F(Conversion, AllocationFailureWritesNothing)
{
#ifdef PELMORA_UNDER_SANITIZER
    GTEST_SKIP() << "the sanitizers reserve far more address space than this limit";
#endif
    MakeSparseFile(Path("big.txt"), 1ull << 30);
    std::vector<CapturedMessage> messages;
    {
        // Far less address space than a gibibyte buffer needs.
        ScopedLimit limit(RLIMIT_AS, 512ull << 20);
        messages = Convert(Name("big.txt"), Name("out.txt"));
    }
    ExpectOneWarning(messages, kNoMemory);
    EXPECT_FALSE(fs::exists(Path("out.txt")));
}

TEST_F(Conversion, OutputThatWouldNotFitIn32BitsIsTooLarge)
{
    // The boundary itself is tested on OutputFitsIn32Bits; this is the one
    // whole file that crosses it, in UTF-16, where each line end grows by
    // two bytes: 2 GiB of LFs becomes 4 GiB.
    const uintmax_t needed = 3ull << 30;
    const uintmax_t available = fs::space(dir_).available;
    if (available < needed)
        GTEST_SKIP() << "needs 3 GiB free in " << dir_ << ", which has " << (available >> 20) << " MiB";
    // A folder in memory (Debian 13 mounts /tmp as tmpfs) holds the file in
    // memory too, beside the 2 GiB that reading it takes.
    struct statfs folder;
    uintmax_t memory = 0;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string word; meminfo >> word && word != "MemAvailable:";) {}
    meminfo >> memory;
    if (statfs(dir_.c_str(), &folder) == 0 && folder.f_type == 0x01021994 && (memory << 10) < (5ull << 30))
        GTEST_SKIP() << dir_ << " is in memory (tmpfs), which would hold the 2 GiB file beside the 2 GiB read of it, "
                     << "and only " << (memory >> 10) << " MiB are available";
    const std::string chunk = Utf16(false, std::u16string(1 << 19, u'\n'));
    FILE *file = std::fopen(Name("lines.txt").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite("\xFF\xFE", 1, 2, file), 2u);
    for (int i = 0; i < 2048; ++i)
        ASSERT_EQ(std::fwrite(chunk.data(), 1, chunk.size(), file), chunk.size());
    std::fclose(file);
    ExpectOneWarning(Convert(Name("out.txt"), Name("lines.txt")), kTooLarge);
    EXPECT_FALSE(fs::exists(Path("out.txt")));
}

#endif

} // namespace
