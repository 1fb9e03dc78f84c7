#include "line_endings.h"
#include "line_endings_impl.h"
#include "reference_line_endings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

const LineEndingImplementation kDispatched = {"dispatched", CountCrLfPairs, TransformWindowsToUnix, CountLineFeeds,
                                              TransformUnixToWindows};
const LineEndingImplementation *const kImplementations[] = {&kDispatched, &kScalarLineEndings, &kSse2LineEndings};

struct Encoding {
    TextEncoding encoding;
    const char *name;
    size_t unit;
    bool bigEndian;
};
const Encoding kEncodings[] = {
    {kBytes, "bytes", 1, false},       {kUtf16Le, "UTF-16LE", 2, false}, {kUtf16Be, "UTF-16BE", 2, true},
    {kUtf32Le, "UTF-32LE", 4, false}, {kUtf32Be, "UTF-32BE", 4, true},
};

const Encoding &EncodingOf(TextEncoding encoding)
{
    for (const Encoding &e : kEncodings)
        if (e.encoding == encoding)
            return e;
    return kEncodings[0];
}

const unsigned char kCanary = 0xA5;
const size_t kCanaryLength = 64;

const unsigned char *Bytes(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

// Runs count then transform the way the converter does, into a buffer sized
// by the count and followed by canary bytes that must come through untouched.
std::string Convert(const LineEndingImplementation &impl, bool toUnix, const Encoding &e, const unsigned char *input,
                uint32_t size)
{
    const uint32_t unit = (uint32_t)e.unit;
    const uint32_t length = toUnix ? size - unit * impl.countCrLfPairs(e.encoding, input, size)
                                   : size + unit * impl.countLineFeeds(e.encoding, input, size);
    std::vector<unsigned char> output(length + kCanaryLength, kCanary);
    (toUnix ? impl.windowsToUnix : impl.unixToWindows)(e.encoding, input, size, output.data());
    for (size_t i = length; i < output.size(); ++i)
        EXPECT_EQ(output[i], kCanary) << impl.name << " " << e.name << " wrote past its output at " << i;
    return std::string(output.begin(), output.begin() + length);
}

// The input in a buffer of its own, followed by an LF, and again by the NUL
// the converter puts there: a transform that looks a byte or a unit past the
// end meets a line end there (with the NUL, one whose first byte is the
// input's last), and its count or its output goes wrong.
std::string Convert(const LineEndingImplementation &impl, bool toUnix, const Encoding &e, const std::string &input)
{
    std::string converted[2];
    const std::string after[2] = {ReferenceUnit(0x0A, e.unit, e.bigEndian), std::string(e.unit, '\0')};
    for (int i = 0; i < 2; ++i) {
        const std::string poisoned = input + after[i];
        const std::vector<unsigned char> buffer(poisoned.begin(), poisoned.end());
        converted[i] = Convert(impl, toUnix, e, buffer.data(), (uint32_t)input.size());
    }
    EXPECT_EQ(converted[1], converted[0]) << impl.name << " " << e.name << ": the NUL after the input changed it";
    return converted[0];
}

std::string Reference(bool toUnix, const Encoding &e, const std::string &input)
{
    return toUnix ? ReferenceToUnix(input, e.unit, e.bigEndian) : ReferenceToWindows(input, e.unit, e.bigEndian);
}

std::string Plain(const Encoding &e, size_t units)
{
    std::string text;
    for (size_t i = 0; i < units; ++i)
        text += ReferenceUnit('a' + (unsigned)(i % 26), e.unit, e.bigEndian);
    return text;
}

// A case as the converter meets it (its encoding read from its first bytes),
// then again between plain text, at every alignment of a 16-byte block and
// with enough text after it that the vector blocks, not the scalar tail,
// handle it. The reference must agree with the hand-written result too.
void ExpectCase(bool toUnix, const std::string &input, const std::string &expected)
{
    const Encoding &e = EncodingOf(DetectTextEncoding(Bytes(input), (uint32_t)input.size()));
    const std::string shown = std::string(e.name) + " " + testing::PrintToString(input);
    EXPECT_EQ(Reference(toUnix, e, input), expected) << "the reference on " << shown;
    for (const LineEndingImplementation *impl : kImplementations)
        EXPECT_EQ(Convert(*impl, toUnix, e, input), expected) << impl->name << " on " << shown;
    std::vector<size_t> befores;
    for (size_t units = 0; units < 16; ++units) {
        befores.push_back(units);
        befores.push_back(64 + units);
    }
    for (size_t before : befores)
        for (size_t after : {0, 96}) {
            const std::string padded = Plain(e, before) + input + Plain(e, after / e.unit);
            const std::string want = Reference(toUnix, e, padded);
            for (const LineEndingImplementation *impl : kImplementations)
                ASSERT_EQ(Convert(*impl, toUnix, e, padded), want)
                    << impl->name << " on " << shown << " after " << before << " and before " << after / e.unit
                    << " plain units";
        }
}

TEST(LineEndings, EncodingComesFromTheByteOrderMarkAlone)
{
    const struct {
        std::string start;
        TextEncoding expected;
    } cases[] = {
        {"", kBytes},
        {"\xFF", kBytes},                         // too short for a mark
        {"\xFF\xFE", kUtf16Le},
        {"\xFE\xFF", kUtf16Be},
        {std::string("\xFF\xFE\0", 3), kUtf16Le},
        {std::string("\xFF\xFE\0\0", 4), kUtf32Le}, // not UTF-16LE starting with U+0000
        {std::string("\0\0\xFE\xFF", 4), kUtf32Be},
        {std::string("\0\0\xFE", 3), kBytes},
        {"\xEF\xBB\xBF" "abc", kBytes},           // UTF-8 keeps its line ends as bytes
        {std::string("a\0\r\0\n\0", 6), kBytes},  // UTF-16 without a mark is not guessed at
        {"\xFE\xFE", kBytes},
        {"\xFF\xFF", kBytes},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DetectTextEncoding(Bytes(c.start), (uint32_t)c.start.size()), c.expected)
            << testing::PrintToString(c.start);
    for (const Encoding &e : kEncodings)
        EXPECT_EQ(CodeUnitSize(e.encoding), e.unit) << e.name;
}

TEST(LineEndings, WindowsToUnixEdgeCases)
{
    const std::string le16Mark = "\xFF\xFE";
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
        {"\xEF\xBB\xBFone\r\ntwo", "\xEF\xBB\xBFone\ntwo"},
        {std::string("a\0\r\0\n\0", 6), std::string("a\0\r\0\n\0", 6)}, // no mark: bytes
        {Utf16(false, u"\uFEFFline one\r\nline two\r\n"), Utf16(false, u"\uFEFFline one\nline two\n")},
        {Utf16(true, u"\uFEFFline one\r\nline two\r\n"), Utf16(true, u"\uFEFFline one\nline two\n")},
        {Utf16(true, u"\uFEFF\u0D0A\r\u0D0A"), Utf16(true, u"\uFEFF\u0D0A\r\u0D0A")}, // bytes 0D 0A
        {Utf16(false, u"\uFEFF\r\u010A\u0A0D\n"), Utf16(false, u"\uFEFF\r\u010A\u0A0D\n")},
        {Utf16(false, u"\uFEFFa\rb\r"), Utf16(false, u"\uFEFFa\rb\r")},
        {Utf16(false, u"\uFEFF\r\r\n"), Utf16(false, u"\uFEFF\r\n")},
        {Utf16(false, u"\uFEFF\uFEFF\r\n\0\r\n\xD83D\xDE00\r\n"s), Utf16(false, u"\uFEFF\uFEFF\n\0\n\xD83D\xDE00\n"s)},
        {le16Mark, le16Mark},
        {Utf16(false, u"\uFEFFa\r\n") + "\r", Utf16(false, u"\uFEFFa\n") + "\r"},   // a partial last unit
        {Utf16(false, u"\uFEFFa\r") + "\n", Utf16(false, u"\uFEFFa\r") + "\n"},
        {Utf32(false, U"\uFEFFa\r\nb\r"), Utf32(false, U"\uFEFFa\nb\r")},
        {Utf32(true, U"\uFEFFa\r\n\U0001F600\r\n"), Utf32(true, U"\uFEFFa\n\U0001F600\n")},
        {Utf32(false, U"\uFEFF\r\n") + std::string("\r\0\0", 3), Utf32(false, U"\uFEFF\n") + std::string("\r\0\0", 3)},
    };
    for (const auto &c : cases)
        ExpectCase(true, c.input, c.expected);
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
        {"\xEF\xBB\xBFone\ntwo", "\xEF\xBB\xBFone\r\ntwo"},
        {std::string("a\0\n\0", 4), std::string("a\0\r\n\0", 5)},         // no mark: bytes
        {Utf16(false, u"\uFEFFline one\nline two\n"), Utf16(false, u"\uFEFFline one\r\nline two\r\n")},
        {Utf16(true, u"\uFEFF\u0D0Ax\n"), Utf16(true, u"\uFEFF\u0D0Ax\r\n")},
        {Utf16(false, u"\uFEFF\u010A\u0A0A\n"), Utf16(false, u"\uFEFF\u010A\u0A0A\r\n")},
        {Utf16(false, u"\uFEFFx\r\n"), Utf16(false, u"\uFEFFx\r\r\n")},
        {Utf16(true, u"\uFEFF\n\n"), Utf16(true, u"\uFEFF\r\n\r\n")},
        {"\xFE\xFF", "\xFE\xFF"},
        {Utf16(false, u"\uFEFFa\n") + "\n", Utf16(false, u"\uFEFFa\r\n") + "\n"},   // a partial last unit
        {Utf32(false, U"\uFEFFa\nb"), Utf32(false, U"\uFEFFa\r\nb")},
        {Utf32(true, U"\uFEFF\n\U0001F600\n") + std::string("\0\0", 2),
         Utf32(true, U"\uFEFF\r\n\U0001F600\r\n") + std::string("\0\0", 2)},
    };
    for (const auto &c : cases)
        ExpectCase(false, c.input, c.expected);
}

TEST(LineEndings, Sse2IsUsedExactlyWhenTheProcessorReportsIt)
{
    const struct {
        uint32_t highestLeaf, edx;
        bool sse2;
    } cases[] = {
        {1, 1u << 26, true},
        {13, 0xFFFFFFFFu, true},
        {1, 1u << 25, false},           // SSE alone
        {1, ~(1u << 26), false},        // everything but SSE2
        {0, 1u << 26, false},           // no leaf 1 to ask: its EDX means nothing
        {0, 0, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CpuidReportsSse2(c.highestLeaf, c.edx) != 0, c.sse2)
            << "highest leaf " << c.highestLeaf << ", EDX 0x" << std::hex << c.edx;
    EXPECT_EQ(ChooseLineEndings(1), &kSse2LineEndings);
    EXPECT_EQ(ChooseLineEndings(0), &kScalarLineEndings);
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
    // Every processor that runs this suite (x86-64, natively or under Wine)
    // has SSE2, so the program must be using it.
    EXPECT_TRUE(ProcessorHasSse2());
    EXPECT_EQ(DispatchedLineEndings(), &kSse2LineEndings) << DispatchedLineEndings()->name;
#endif
}

TEST(LineEndings, OutputThatWouldPass32BitsIsRefusedAtTheExactBoundary)
{
    const struct {
        uint32_t size, count, growth;
        bool fits;
    } cases[] = {
        {0xFFFFFFFEu, 0, 1, true},                 // the largest source, no line ends
        {0x7FFFFFFFu, 0x7FFFFFFFu, 1, true},       // output and NUL: 2^32 - 1 bytes
        {0x80000000u, 0x7FFFFFFFu, 1, false},      // 2^32: a 32-bit size + 1 is 0
        {0xFFFFFFFEu, 1, 1, false},
        {0x55555555u, 0x55555554u, 2, true},       // 3 * 0x55555555 - 2 + 1 = 2^32 - 2
        {0x55555556u, 0x55555555u, 2, false},
        {0x33333332u, 0x33333333u, 4, true},       // output 2^32 - 2, and its NUL
        {0x33333333u, 0x33333333u, 4, false},      // output 2^32 - 1: no room for the NUL
        {0x40000000u, 0x40000000u, 4, false},      // count * growth alone is 2^32
        {0, 0x40000000u, 4, false},
        {0, 0x3FFFFFFFu, 4, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OutputFitsIn32Bits(c.size, c.count, c.growth) != 0, c.fits)
            << std::hex << "size 0x" << c.size << ", count 0x" << c.count << ", growth " << c.growth;
}

// Text of this many bytes in the encoding's units: at markerPercent CR, LF
// and look-alikes (units holding the bytes 0x0D or 0x0A, 0x8D, 0x8A, NUL),
// otherwise random; a partial unit ends it when the length asks for one.
std::string RandomText(std::mt19937 &random, const Encoding &e, size_t length, int markerPercent)
{
    const unsigned markers[] = {0x0D, 0x0A, 0x0D, 0x0A, 0x8D, 0x8A, 0x00, 0x0D0A, 0x0A0D, 0x010A, 0x0D00, 0x0A00};
    std::string text;
    while (text.size() < length) {
        unsigned code;
        if ((int)(random() % 100) < markerPercent)
            code = markers[random() % (e.unit == 1 ? 7 : sizeof markers / sizeof markers[0])];
        else
            code = e.unit == 1 ? 0x20 + random() % 0xE0 : (unsigned)random();
        text += ReferenceUnit(code, e.unit, e.bigEndian);
    }
    text.resize(length);
    return text;
}

// Every way a unit can be repeated: CR LF pairs with nothing between them,
// from the smallest tail the vector code leaves to a few blocks, started at
// either unit of a pair.
std::string DensePairs(const Encoding &e, size_t length, bool startWithLf)
{
    std::string text = startWithLf ? ReferenceUnit(0x0A, e.unit, e.bigEndian) : "";
    while (text.size() < length)
        text += ReferenceUnit(0x0D, e.unit, e.bigEndian) + ReferenceUnit(0x0A, e.unit, e.bigEndian);
    text.resize(length);
    return text;
}

// The vector code has block edges, a 64-byte tail and lane counters that
// overflow after 255 rounds; random text of every short length, at every
// marker density, dense pairs at every length of the tail and a few blocks,
// and long runs of nothing but markers reach all of them.
TEST(LineEndings, AllImplementationsMatchTheReference)
{
    std::mt19937 random(20261208);
    for (const Encoding &e : kEncodings) {
        std::vector<std::string> inputs;
        for (size_t length = 0; length <= 300; ++length)
            for (int percent : {0, 3, 30, 90})
                inputs.push_back(RandomText(random, e, length, percent));
        for (size_t length = 64; length <= 160; ++length)
            for (bool startWithLf : {false, true})
                inputs.push_back(DensePairs(e, length, startWithLf));
        inputs.push_back(DensePairs(e, 80000 + e.unit, false));
        for (unsigned code : {0x0A, 0x0D}) {
            std::string run;
            while (run.size() < 70000)
                run += ReferenceUnit(code, e.unit, e.bigEndian);
            inputs.push_back(run);
        }
        if (e.encoding == kBytes || e.encoding == kUtf16Le) {
            inputs.push_back(RandomText(random, e, 1 << 20, 5));
            inputs.push_back(RandomText(random, e, (1 << 20) + 13, 60));
        }
        for (const auto &input : inputs)
            for (bool toUnix : {true, false}) {
                const std::string expected = Reference(toUnix, e, input);
                for (const LineEndingImplementation *impl : kImplementations)
                    ASSERT_EQ(Convert(*impl, toUnix, e, input), expected)
                        << impl->name << " " << e.name << (toUnix ? " to Unix" : " to Windows") << ", length "
                        << input.size();
            }
    }
}

std::string WithoutLineEnds(const Encoding &e, const std::string &text)
{
    const ReferenceText split = ReferenceUnits(text, e.unit);
    std::string kept;
    for (const std::string &unit : split.units)
        if (unit != ReferenceUnit(0x0D, e.unit, e.bigEndian) && unit != ReferenceUnit(0x0A, e.unit, e.bigEndian))
            kept += unit;
    return kept + split.rest;
}

// What must hold whatever the exact rules: no other unit changes or moves,
// and a file without CRs survives a trip to Windows and back.
TEST(LineEndings, PropertiesHoldOnRandomText)
{
    std::mt19937 random(4242);
    for (int round = 0; round < 400; ++round) {
        const Encoding &e = kEncodings[round % 5];
        const std::string input = RandomText(random, e, random() % 3000, (int)(random() % 60));
        const ReferenceText split = ReferenceUnits(input, e.unit);
        std::string noCr;
        for (const std::string &unit : split.units)
            if (unit != ReferenceUnit(0x0D, e.unit, e.bigEndian))
                noCr += unit;
        noCr += split.rest;
        for (const LineEndingImplementation *impl : kImplementations) {
            ASSERT_EQ(WithoutLineEnds(e, Convert(*impl, true, e, input)), WithoutLineEnds(e, input)) << impl->name;
            ASSERT_EQ(WithoutLineEnds(e, Convert(*impl, false, e, input)), WithoutLineEnds(e, input)) << impl->name;
            ASSERT_EQ(Convert(*impl, true, e, Convert(*impl, false, e, noCr)), noCr) << impl->name << " " << e.name;
        }
    }
}

TEST(LineEndings, UnalignedBuffersGiveTheSameBytes)
{
    std::mt19937 random(7);
    for (const Encoding &e : kEncodings) {
        const std::string text = RandomText(random, e, 5000, 10);
        const std::string lf = ReferenceUnit(0x0A, e.unit, e.bigEndian);
        std::vector<unsigned char> storage(text.size() + 16 + lf.size());
        for (size_t offset = 1; offset < 16; ++offset) {
            std::copy(text.begin(), text.end(), storage.begin() + offset);
            std::copy(lf.begin(), lf.end(), storage.begin() + offset + text.size());
            const unsigned char *input = storage.data() + offset;
            const uint32_t size = (uint32_t)text.size();
            for (const LineEndingImplementation *impl : kImplementations)
                for (bool toUnix : {true, false})
                    EXPECT_EQ(Convert(*impl, toUnix, e, input, size), Reference(toUnix, e, text))
                        << impl->name << " " << e.name << " offset " << offset;
        }
    }
}

} // namespace
