// The separate implementations behind the dispatching transforms, and how
// one is chosen. Tests and benchmarks call them directly so that the scalar
// fallback is checked on machines that would never select it.
#ifndef PELMORA_LINE_ENDINGS_IMPL_H
#define PELMORA_LINE_ENDINGS_IMPL_H

#include "line_endings.h"

#include <stdint.h>

typedef uint32_t (*LineEndCount)(TextEncoding encoding, const unsigned char *source, uint32_t size);
typedef void (*LineEndTransform)(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                 unsigned char *output);

// One complete set of the four functions of line_endings.h.
struct LineEndingImplementation {
    const char *name;
    LineEndCount countCrLfPairs;
    LineEndTransform windowsToUnix;
    LineEndCount countLineFeeds;
    LineEndTransform unixToWindows;
};

// Portable code for every encoding.
extern const LineEndingImplementation kScalarLineEndings;
// SSE2 blocks for bytes and UTF-16, the scalar code for UTF-32 and for tails.
// Only line_endings_sse2.cpp is built for SSE2.
extern const LineEndingImplementation kSse2LineEndings;

uint32_t CountCrLfPairsScalar(TextEncoding encoding, const unsigned char *source, uint32_t size);
void TransformWindowsToUnixScalar(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                  unsigned char *output);
uint32_t CountLineFeedsScalar(TextEncoding encoding, const unsigned char *source, uint32_t size);
void TransformUnixToWindowsScalar(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                  unsigned char *output);

// The set the dispatching functions use, for a processor that does or does
// not run SSE2; and the set they use in this process.
const LineEndingImplementation *ChooseLineEndings(int processorHasSse2);
const LineEndingImplementation *DispatchedLineEndings(void);

// Non-zero when the processor runs SSE2 code. Always true on x86-64; the
// 32-bit build must ask, because it still starts on processors without it.
int ProcessorHasSse2(void);
// CPUID's answer read: leaf 1 must exist (highestLeaf from leaf 0), and SSE2
// is bit 26 of its EDX.
int CpuidReportsSse2(uint32_t highestLeaf, uint32_t leaf1Edx);

#endif
