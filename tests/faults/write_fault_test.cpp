// A write that fails partway. CTest runs this under a file-size limit (see
// tests/CMakeLists.txt), which makes the write fail as a full disk would.
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
    ExpectOneWarning(ConvertAndCapture(NULL, Narrow(dir / "windows.txt"), Narrow(dir / "unix.txt")),
                     "File Conversion Error:\nCannot write the destination file");
    EXPECT_FALSE(fs::exists(dir / "windows.txt"));
    EXPECT_EQ(ReadBytes(dir / "unix.txt"), source);
    fs::remove_all(dir);
}
