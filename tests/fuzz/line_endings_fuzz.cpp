// libFuzzer target: every implementation of both transforms must give the
// reference bytes, with the counted length, and write nothing past it.
#include "line_endings.h"
#include "line_endings_impl.h"
#include "reference_line_endings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

typedef uint32_t (*Count)(const unsigned char *, uint32_t);
typedef void (*Transform)(const unsigned char *, uint32_t, unsigned char *);

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

void CheckOne(const char *name, Count count, Transform transform, const unsigned char *data, uint32_t size,
              bool toUnix, const std::string &expected)
{
    const uint32_t counted = count(data, size);
    const uint32_t length = toUnix ? size - counted : size + counted;
    Check(length == expected.size(), name);
    // Exactly sized, so AddressSanitizer sees any write past the end.
    std::vector<unsigned char> output(length);
    transform(data, size, output.data());
    Check(std::string(output.begin(), output.end()) == expected, name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // Exactly sized input too, for reads past the end.
    std::vector<unsigned char> input(data, data + size);
    const std::string text(input.begin(), input.end());
    const uint32_t n = (uint32_t)size;
    const std::string unixForm = ReferenceToUnix(text);
    const std::string windowsForm = ReferenceToWindows(text);
    CheckOne("to-unix", CountCrLfPairs, TransformWindowsToUnix, input.data(), n, true, unixForm);
    CheckOne("to-unix scalar", CountCrLfPairsScalar, TransformWindowsToUnixScalar, input.data(), n, true, unixForm);
    CheckOne("to-unix sse2", CountCrLfPairsSse2, TransformWindowsToUnixSse2, input.data(), n, true, unixForm);
    CheckOne("to-windows", CountLineFeeds, TransformUnixToWindows, input.data(), n, false, windowsForm);
    CheckOne("to-windows scalar", CountLineFeedsScalar, TransformUnixToWindowsScalar, input.data(), n, false,
             windowsForm);
    CheckOne("to-windows sse2", CountLineFeedsSse2, TransformUnixToWindowsSse2, input.data(), n, false,
             windowsForm);
    return 0;
}
