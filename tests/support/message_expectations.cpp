#include "conversion.h"
#include "message_capture.h"

#include <gtest/gtest.h>

std::vector<CapturedMessage> ConvertAndCapture(HWND owner, const std::string &windowsPath,
                                               const std::string &unixPath)
{
    BeginMessageCapture();
    RunConversion(owner, windowsPath.c_str(), unixPath.c_str());
    return EndMessageCapture();
}

void ExpectOneWarning(const std::vector<CapturedMessage> &messages, const char *text, HWND owner)
{
    ASSERT_EQ(messages.size(), 1u) << "expected \"" << text << "\"";
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].style, MB_OK | MB_ICONWARNING);
    EXPECT_EQ(messages[0].owner, owner);
}
