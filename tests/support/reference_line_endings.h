// Obviously correct, unit-at-a-time line-ending conversions, written
// independently of the program's, for tests and the fuzzer to compare with.
// A unit is 1, 2 or 4 bytes in the given byte order, counted from the first
// byte; bytes after the last whole unit are copied as they are.
#ifndef PELMORA_TEST_REFERENCE_LINE_ENDINGS_H
#define PELMORA_TEST_REFERENCE_LINE_ENDINGS_H

#include <string>
#include <vector>

struct ReferenceText {
    std::vector<std::string> units;
    std::string rest;
};

inline ReferenceText ReferenceUnits(const std::string &input, size_t unitSize)
{
    ReferenceText text;
    size_t at = 0;
    for (; at + unitSize <= input.size(); at += unitSize)
        text.units.push_back(input.substr(at, unitSize));
    text.rest = input.substr(at);
    return text;
}

// The unit holding this character code, in the given byte order.
inline std::string ReferenceUnit(unsigned code, size_t unitSize, bool bigEndian)
{
    std::string unit(unitSize, '\0');
    for (size_t k = 0; k < unitSize; ++k)
        unit[bigEndian ? unitSize - 1 - k : k] = (char)((code >> (8 * k)) & 0xFF);
    return unit;
}

// Text as a file holds it in UTF-16 or UTF-32; a mark is written only when
// the text starts with U+FEFF.
inline std::string Utf16(bool bigEndian, const std::u16string &text)
{
    std::string bytes;
    for (char16_t c : text)
        bytes += ReferenceUnit(c, 2, bigEndian);
    return bytes;
}

inline std::string Utf32(bool bigEndian, const std::u32string &text)
{
    std::string bytes;
    for (char32_t c : text)
        bytes += ReferenceUnit(c, 4, bigEndian);
    return bytes;
}

inline std::string ReferenceToUnix(const std::string &input, size_t unitSize = 1, bool bigEndian = false)
{
    const ReferenceText text = ReferenceUnits(input, unitSize);
    const std::string cr = ReferenceUnit(0x0D, unitSize, bigEndian);
    const std::string lf = ReferenceUnit(0x0A, unitSize, bigEndian);
    std::string out;
    for (size_t i = 0; i < text.units.size(); ++i)
        if (!(text.units[i] == cr && i + 1 < text.units.size() && text.units[i + 1] == lf))
            out += text.units[i];
    return out + text.rest;
}

inline std::string ReferenceToWindows(const std::string &input, size_t unitSize = 1, bool bigEndian = false)
{
    const ReferenceText text = ReferenceUnits(input, unitSize);
    const std::string cr = ReferenceUnit(0x0D, unitSize, bigEndian);
    const std::string lf = ReferenceUnit(0x0A, unitSize, bigEndian);
    std::string out;
    for (const std::string &unit : text.units) {
        if (unit == lf)
            out += cr;
        out += unit;
    }
    return out + text.rest;
}

#endif
