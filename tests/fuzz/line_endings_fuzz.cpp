// libFuzzer target: every implementation of both transforms, in every
// encoding, must give the reference bytes, with the counted length, and write
// nothing past it.
#include "line_endings.h"
#include "line_endings_impl.h"
#include "reference_line_endings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool ok, const char *what, const char *encoding)
{
    if (!ok) {
        std::fprintf(stderr, "mismatch: %s in %s\n", what, encoding);
        std::abort();
    }
}

void CheckOne(const LineEndingImplementation &impl, TextEncoding encoding, const char *encodingName,
              const unsigned char *data, uint32_t size, bool toUnix, const std::string &expected)
{
    const uint32_t unit = CodeUnitSize(encoding);
    const uint32_t counted = toUnix ? impl.countCrLfPairs(encoding, data, size) : impl.countLineFeeds(encoding, data, size);
    const uint32_t length = toUnix ? size - unit * counted : size + unit * counted;
    Check(length == expected.size(), impl.name, encodingName);
    // Exactly sized, so AddressSanitizer sees any write past the end.
    std::vector<unsigned char> output(length);
    (toUnix ? impl.windowsToUnix : impl.unixToWindows)(encoding, data, size, output.data());
    Check(std::string(output.begin(), output.end()) == expected, impl.name, encodingName);
}

const LineEndingImplementation kDispatched = {"dispatched", CountCrLfPairs, TransformWindowsToUnix, CountLineFeeds,
                                              TransformUnixToWindows};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // Exactly sized input too, for reads past the end.
    std::vector<unsigned char> input(data, data + size);
    const std::string text(input.begin(), input.end());
    const uint32_t n = (uint32_t)size;
    const struct {
        TextEncoding encoding;
        const char *name;
        bool bigEndian;
    } encodings[] = {{kBytes, "bytes", false},
                     {kUtf16Le, "UTF-16LE", false},
                     {kUtf16Be, "UTF-16BE", true},
                     {kUtf32Le, "UTF-32LE", false},
                     {kUtf32Be, "UTF-32BE", true}};
    for (const auto &e : encodings) {
        const size_t unit = CodeUnitSize(e.encoding);
        const std::string unixForm = ReferenceToUnix(text, unit, e.bigEndian);
        const std::string windowsForm = ReferenceToWindows(text, unit, e.bigEndian);
        for (const LineEndingImplementation *impl : {&kDispatched, &kScalarLineEndings, &kSse2LineEndings}) {
            CheckOne(*impl, e.encoding, e.name, input.data(), n, true, unixForm);
            CheckOne(*impl, e.encoding, e.name, input.data(), n, false, windowsForm);
        }
    }
    return 0;
}
