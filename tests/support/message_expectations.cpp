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
    testing::Message shown;
    for (const CapturedMessage &message : messages)
        shown << "\n  \"" << message.text << "\", caption \"" << message.caption << "\", style 0x" << std::hex
              << message.style << std::dec << ", owner " << message.owner;
    ASSERT_EQ(messages.size(), 1u) << "expected \"" << text << "\"; shown:" << shown;
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].style, MB_OK | MB_ICONWARNING);
    EXPECT_EQ(messages[0].owner, owner);
}
