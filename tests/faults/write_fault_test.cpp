// A write that fails partway. CTest runs this under a file-size limit (see
// tests/CMakeLists.txt), which makes the write fail as a full disk would.
#include "conversion.h"
#include "message_capture.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

TEST(WriteFault, IncompleteDestinationIsRemoved)
{
    // Set by the test command along with the limit, in KiB.
    const char *limit = std::getenv("PELMORA_FILE_SIZE_LIMIT_KB");
    ASSERT_NE(limit, nullptr) << "run through ctest, which sets the limit";
    const size_t limitBytes = (size_t)std::atoi(limit) * 1024;

    // The source fits under the limit; its Windows form, twice as long, does not.
    const fs::path dir = MakeTempDir();
    const std::string source(limitBytes * 3 / 4, '\n');
    WriteBytes(dir / "unix.txt", source);
    BeginMessageCapture();
    RunConversion(NULL, Narrow(dir / "windows.txt").c_str(), Narrow(dir / "unix.txt").c_str());
    const auto messages = EndMessageCapture();

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "File Conversion Error:\nCannot write the destination file");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].style, MB_OK | MB_ICONWARNING);
    EXPECT_FALSE(fs::exists(dir / "windows.txt"));
    EXPECT_EQ(ReadBytes(dir / "unix.txt"), source);
    fs::remove_all(dir);
}
