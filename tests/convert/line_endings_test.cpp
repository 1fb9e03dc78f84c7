#include "line_endings.h"
#include "line_endings_impl.h"
#include "reference_line_endings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct Implementation {
    const char *name;
    uint32_t (*countPairs)(const unsigned char *, uint32_t);
    void (*toUnix)(const unsigned char *, uint32_t, unsigned char *);
    uint32_t (*countLineFeeds)(const unsigned char *, uint32_t);
    void (*toWindows)(const unsigned char *, uint32_t, unsigned char *);
};

const Implementation kImplementations[] = {
    {"dispatched", CountCrLfPairs, TransformWindowsToUnix, CountLineFeeds, TransformUnixToWindows},
    {"scalar", CountCrLfPairsScalar, TransformWindowsToUnixScalar, CountLineFeedsScalar, TransformUnixToWindowsScalar},
    {"sse2", CountCrLfPairsSse2, TransformWindowsToUnixSse2, CountLineFeedsSse2, TransformUnixToWindowsSse2},
};

const unsigned char kCanary = 0xA5;
const size_t kCanaryLength = 64;

const unsigned char *Bytes(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

// Runs count then transform the way the converter does, into an exactly sized
// buffer followed by canary bytes that must come through untouched.
std::string RunToUnix(const Implementation &impl, const unsigned char *input, uint32_t size)
{
    const uint32_t length = size - impl.countPairs(input, size);
    std::vector<unsigned char> output(length + kCanaryLength, kCanary);
    impl.toUnix(input, size, output.data());
    for (size_t i = length; i < output.size(); ++i)
        EXPECT_EQ(output[i], kCanary) << impl.name << " wrote past its output at " << i;
    return std::string(output.begin(), output.begin() + length);
}

std::string RunToWindows(const Implementation &impl, const unsigned char *input, uint32_t size)
{
    const uint32_t length = size + impl.countLineFeeds(input, size);
    std::vector<unsigned char> output(length + kCanaryLength, kCanary);
    impl.toWindows(input, size, output.data());
    for (size_t i = length; i < output.size(); ++i)
        EXPECT_EQ(output[i], kCanary) << impl.name << " wrote past its output at " << i;
    return std::string(output.begin(), output.begin() + length);
}

std::string RunToUnix(const Implementation &impl, const std::string &input)
{
    return RunToUnix(impl, Bytes(input), (uint32_t)input.size());
}

std::string RunToWindows(const Implementation &impl, const std::string &input)
{
    return RunToWindows(impl, Bytes(input), (uint32_t)input.size());
}

std::string RandomText(std::mt19937 &random, size_t length, int markerPercent)
{
    // Mostly CR, LF and a few look-alikes (0x8D, 0x8A, NUL) so that pairs,
    // lone CRs and runs of markers all occur, including across block edges.
    const unsigned char markers[] = {'\r', '\n', '\r', '\n', 0x8D, 0x8A, 0x00};
    std::string text(length, 'a');
    for (auto &c : text) {
        if ((int)(random() % 100) < markerPercent)
            c = (char)markers[random() % sizeof markers];
        else
            c = (char)(0x20 + random() % 0xE0);
    }
    return text;
}

TEST(LineEndings, WindowsToUnixEdgeCases)
{
    const struct {
        std::string input, expected;
    } cases[] = {
        {"", ""},
        {"x\r\ny\r\n", "x\ny\n"},
        {"no line ends at all", "no line ends at all"},
        {"x\ry", "x\ry"},                 // a lone CR is data
        {"xyz\r", "xyz\r"},               // so is one at the very end
        {"\r\r\n", "\r\n"},               // only the CR next to the LF goes
        {"\n\r", "\n\r"},                 // LF CR is not a pair
        {"\r\n\r\n\r\n", "\n\n\n"},
        {std::string("\x8D\x8A\r\x8A\x8D\n", 6), std::string("\x8D\x8A\r\x8A\x8D\n", 6)},
        {std::string("a\0\r\n\0b", 6), std::string("a\0\n\0b", 5)},
    };
    for (const auto &impl : kImplementations)
        for (const auto &c : cases)
            EXPECT_EQ(RunToUnix(impl, c.input), c.expected) << impl.name << " on " << testing::PrintToString(c.input);
}

TEST(LineEndings, UnixToWindowsEdgeCases)
{
    const struct {
        std::string input, expected;
    } cases[] = {
        {"", ""},
        {"x\ny", "x\r\ny"},
        {"\n\n", "\r\n\r\n"},
        {"x\r\n", "x\r\r\n"},             // every LF gains a CR, even after a CR
        {"x\ry", "x\ry"},
        {std::string("\x8A\x8D\0\n", 4), std::string("\x8A\x8D\0\r\n", 5)},
    };
    for (const auto &impl : kImplementations)
        for (const auto &c : cases)
            EXPECT_EQ(RunToWindows(impl, c.input), c.expected) << impl.name << " on " << testing::PrintToString(c.input);
}

// The vector code has block edges, a 64-byte tail and lane counters that
// overflow after 255 rounds; random text of every short length, at every
// marker density, and long runs of nothing but markers reach all of them.
TEST(LineEndings, AllImplementationsMatchTheReference)
{
    std::mt19937 random(20261208);
    std::vector<std::string> inputs;
    for (size_t length = 0; length <= 300; ++length)
        for (int percent : {0, 3, 30, 90})
            inputs.push_back(RandomText(random, length, percent));
    inputs.push_back(std::string(70000, '\n'));
    inputs.push_back(std::string(70000, '\r'));
    std::string pairs;
    for (int i = 0; i < 40000; ++i)
        pairs += "\r\n";
    inputs.push_back(pairs);
    inputs.push_back(RandomText(random, 1 << 20, 5));
    inputs.push_back(RandomText(random, (1 << 20) + 13, 60));

    for (const auto &input : inputs) {
        const std::string unixForm = ReferenceToUnix(input);
        const std::string windowsForm = ReferenceToWindows(input);
        for (const auto &impl : kImplementations) {
            ASSERT_EQ(RunToUnix(impl, input), unixForm) << impl.name << ", length " << input.size();
            ASSERT_EQ(RunToWindows(impl, input), windowsForm) << impl.name << ", length " << input.size();
        }
    }
}

std::string WithoutLineEndBytes(const std::string &text)
{
    std::string kept;
    for (char c : text)
        if (c != '\r' && c != '\n')
            kept += c;
    return kept;
}

// What must hold whatever the exact rules: the counted length is the length
// produced, no other byte changes or moves, and a file without CRs survives
// a trip to Windows and back.
TEST(LineEndings, PropertiesHoldOnRandomText)
{
    std::mt19937 random(4242);
    for (int round = 0; round < 400; ++round) {
        const std::string input = RandomText(random, random() % 3000, (int)(random() % 60));
        const uint32_t size = (uint32_t)input.size();
        std::string noCr = input;
        noCr.erase(std::remove(noCr.begin(), noCr.end(), '\r'), noCr.end());
        for (const auto &impl : kImplementations) {
            const std::string unixForm = RunToUnix(impl, input);
            const std::string windowsForm = RunToWindows(impl, input);
            ASSERT_EQ(unixForm.size(), ReferenceToUnix(input).size()) << impl.name;
            ASSERT_EQ(size - impl.countPairs(Bytes(input), size), unixForm.size()) << impl.name;
            ASSERT_EQ(size + impl.countLineFeeds(Bytes(input), size), windowsForm.size()) << impl.name;
            ASSERT_EQ(WithoutLineEndBytes(unixForm), WithoutLineEndBytes(input)) << impl.name;
            ASSERT_EQ(WithoutLineEndBytes(windowsForm), WithoutLineEndBytes(input)) << impl.name;
            ASSERT_EQ(RunToUnix(impl, RunToWindows(impl, noCr)), noCr) << impl.name;
        }
    }
}

TEST(LineEndings, UnalignedBuffersGiveTheSameBytes)
{
    std::mt19937 random(7);
    const std::string text = RandomText(random, 5000, 10);
    std::vector<unsigned char> storage(text.size() + 16);
    for (size_t offset = 1; offset < 16; ++offset) {
        std::copy(text.begin(), text.end(), storage.begin() + offset);
        const unsigned char *input = storage.data() + offset;
        const uint32_t size = (uint32_t)text.size();
        for (const auto &impl : kImplementations) {
            EXPECT_EQ(RunToUnix(impl, input, size), ReferenceToUnix(text)) << impl.name << " offset " << offset;
            EXPECT_EQ(RunToWindows(impl, input, size), ReferenceToWindows(text)) << impl.name << " offset " << offset;
        }
    }
}

} // namespace
