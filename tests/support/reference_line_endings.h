// Obviously correct, byte-at-a-time line-ending conversions, written
// independently of the program's, for tests and the fuzzer to compare with.
#ifndef PELMORA_TEST_REFERENCE_LINE_ENDINGS_H
#define PELMORA_TEST_REFERENCE_LINE_ENDINGS_H

#include <string>

inline std::string ReferenceToUnix(const std::string &input)
{
    std::string out;
    for (size_t i = 0; i < input.size(); ++i)
        if (!(input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n'))
            out += input[i];
    return out;
}

inline std::string ReferenceToWindows(const std::string &input)
{
    std::string out;
    for (char c : input) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

#endif
