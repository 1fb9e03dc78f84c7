#include "line_endings.h"
#include "line_endings_impl.h"

#include <string.h>

#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__i386__)
#include <cpuid.h>
#endif

static const unsigned char kCr = 0x0D;
static const unsigned char kLf = 0x0A;

TextEncoding DetectTextEncoding(const unsigned char *source, uint32_t size)
{
    // UTF-32LE first: its byte-order mark begins with the UTF-16LE one.
    if (size >= 4 && source[0] == 0xFF && source[1] == 0xFE && source[2] == 0 && source[3] == 0)
        return kUtf32Le;
    if (size >= 4 && source[0] == 0 && source[1] == 0 && source[2] == 0xFE && source[3] == 0xFF)
        return kUtf32Be;
    if (size >= 2 && source[0] == 0xFF && source[1] == 0xFE)
        return kUtf16Le;
    if (size >= 2 && source[0] == 0xFE && source[1] == 0xFF)
        return kUtf16Be;
    return kBytes;
}

uint32_t CodeUnitSize(TextEncoding encoding)
{
    switch (encoding) {
    case kUtf16Le:
    case kUtf16Be:
        return 2;
    case kUtf32Le:
    case kUtf32Be:
        return 4;
    case kBytes:
        break;
    }
    return 1;
}

int OutputFitsIn32Bits(uint32_t size, uint32_t count, uint32_t growth)
{
    // In 64 bits: count * growth alone can pass 2^32, and a wrapped sum
    // would size a buffer far smaller than the transform then fills.
    return (uint64_t)size + (uint64_t)count * growth + 1 <= 0xFFFFFFFFu;
}

// The byte loops avoid data-dependent branches: text has a line end every
// few dozen bytes, and a mispredicted branch per line costs more than the
// unconditional stores below. Windows to Unix first looks at four bytes at a
// time, since most words hold no CR at all and can be passed on whole.

static uint32_t LoadWord(const unsigned char *p)
{
    uint32_t word;
    memcpy(&word, p, sizeof word);
    return word;
}

// Non-zero when one of the word's four bytes is CR (the classic zero-byte
// test applied to the word with CR bits flipped).
static uint32_t HasCr(uint32_t word)
{
    const uint32_t flipped = word ^ 0x0D0D0D0Du;
    return (flipped - 0x01010101u) & ~flipped & 0x80808080u;
}

static uint32_t CountBytePairs(const unsigned char *source, uint32_t size)
{
    uint32_t pairs = 0;
    uint32_t i = 0;
    // A CR in the word's last byte pairs with the byte after it, which must be there.
    for (; i + 4 < size; i += 4)
        if (HasCr(LoadWord(source + i)))
            for (uint32_t k = i; k < i + 4; ++k)
                pairs += (uint32_t)((source[k] == kCr) & (source[k + 1] == kLf));
    for (; i + 1 < size; ++i)
        pairs += (uint32_t)((source[i] == kCr) & (source[i + 1] == kLf));
    return pairs;
}

// One byte: stored, and kept unless it is the CR of a pair. A CR that is
// dropped is overwritten by what follows; the LF of its pair always follows,
// so the store stays inside the output.
static uint32_t CopyUnlessPairCr(const unsigned char *source, uint32_t i, unsigned char *output, uint32_t out)
{
    output[out] = source[i];
    return out + (uint32_t)!((source[i] == kCr) & (source[i + 1] == kLf));
}

static void BytesToUnix(const unsigned char *source, uint32_t size, unsigned char *output)
{
    if (size == 0)
        return;
    uint32_t out = 0;
    uint32_t i = 0;
    while (i + 4 < size) {
        const uint32_t word = LoadWord(source + i);
        if (!HasCr(word)) {
            memcpy(output + out, &word, sizeof word);
            out += 4;
            i += 4;
            continue;
        }
        for (const uint32_t end = i + 4; i < end; ++i)
            out = CopyUnlessPairCr(source, i, output, out);
    }
    for (; i + 1 < size; ++i)
        out = CopyUnlessPairCr(source, i, output, out);
    output[out] = source[size - 1];
}

static uint32_t CountByteLineFeeds(const unsigned char *source, uint32_t size)
{
    uint32_t count = 0;
    for (uint32_t i = 0; i < size; ++i)
        count += (uint32_t)(source[i] == kLf);
    return count;
}

static void BytesToWindows(const unsigned char *source, uint32_t size, unsigned char *output)
{
    uint32_t out = 0;
    for (uint32_t i = 0; i < size; ++i) {
        // The CR lands where the byte itself goes unless the byte is an LF,
        // in which case it stays and the LF goes one further.
        const unsigned char b = source[i];
        output[out] = kCr;
        out += (uint32_t)(b == kLf);
        output[out++] = b;
    }
}

// Code units of 2 or 4 bytes, by value in the text's byte order. The same
// unconditional stores as for bytes; the loops are written once for both
// sizes and instantiated with a constant size, so each copy is a plain move.

static uint32_t UnitValue(TextEncoding encoding, const unsigned char *p)
{
    switch (encoding) {
    case kUtf16Le:
        return (uint32_t)p[0] | (uint32_t)p[1] << 8;
    case kUtf16Be:
        return (uint32_t)p[0] << 8 | (uint32_t)p[1];
    case kUtf32Le:
        return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    case kUtf32Be:
        return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
    case kBytes:
        break;
    }
    return p[0];
}

static void StoreCrUnit(TextEncoding encoding, uint32_t unit, unsigned char *p)
{
    memset(p, 0, unit);
    const int bigEndian = encoding == kUtf16Be || encoding == kUtf32Be;
    p[bigEndian ? unit - 1 : 0] = kCr;
}

static uint32_t IsPairCr(TextEncoding encoding, uint32_t unit, const unsigned char *p)
{
    return (uint32_t)(UnitValue(encoding, p) == kCr) & (uint32_t)(UnitValue(encoding, p + unit) == kLf);
}

static uint32_t CountUnitPairs(TextEncoding encoding, uint32_t unit, const unsigned char *source, uint32_t size)
{
    const uint32_t whole = size - size % unit;
    uint32_t pairs = 0;
    for (uint32_t i = 0; i + unit < whole; i += unit)
        pairs += IsPairCr(encoding, unit, source + i);
    return pairs;
}

static inline void UnitsToUnix(TextEncoding encoding, uint32_t unit, const unsigned char *source, uint32_t size,
                               unsigned char *output)
{
    if (size == 0)
        return;
    const uint32_t whole = size - size % unit;
    uint32_t out = 0;
    uint32_t i = 0;
    for (; i + unit < whole; i += unit) {
        memcpy(output + out, source + i, unit);
        out += unit * (1 - IsPairCr(encoding, unit, source + i));
    }
    // The last whole unit has no unit after it to pair with; it goes out
    // with whatever part of a unit follows.
    memcpy(output + out, source + i, size - i);
}

static uint32_t CountUnitLineFeeds(TextEncoding encoding, uint32_t unit, const unsigned char *source, uint32_t size)
{
    const uint32_t whole = size - size % unit;
    uint32_t count = 0;
    for (uint32_t i = 0; i < whole; i += unit)
        count += (uint32_t)(UnitValue(encoding, source + i) == kLf);
    return count;
}

static inline void UnitsToWindows(TextEncoding encoding, uint32_t unit, const unsigned char *source, uint32_t size,
                                  unsigned char *output)
{
    if (size == 0)
        return;
    const uint32_t whole = size - size % unit;
    uint32_t out = 0;
    for (uint32_t i = 0; i < whole; i += unit) {
        StoreCrUnit(encoding, unit, output + out);
        out += unit * (uint32_t)(UnitValue(encoding, source + i) == kLf);
        memcpy(output + out, source + i, unit);
        out += unit;
    }
    memcpy(output + out, source + whole, size - whole);
}

uint32_t CountCrLfPairsScalar(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    const uint32_t unit = CodeUnitSize(encoding);
    return unit == 1 ? CountBytePairs(source, size) : CountUnitPairs(encoding, unit, source, size);
}

void TransformWindowsToUnixScalar(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                  unsigned char *output)
{
    switch (CodeUnitSize(encoding)) {
    case 2:
        UnitsToUnix(encoding, 2, source, size, output);
        break;
    case 4:
        UnitsToUnix(encoding, 4, source, size, output);
        break;
    default:
        BytesToUnix(source, size, output);
        break;
    }
}

uint32_t CountLineFeedsScalar(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    const uint32_t unit = CodeUnitSize(encoding);
    return unit == 1 ? CountByteLineFeeds(source, size) : CountUnitLineFeeds(encoding, unit, source, size);
}

void TransformUnixToWindowsScalar(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                  unsigned char *output)
{
    switch (CodeUnitSize(encoding)) {
    case 2:
        UnitsToWindows(encoding, 2, source, size, output);
        break;
    case 4:
        UnitsToWindows(encoding, 4, source, size, output);
        break;
    default:
        BytesToWindows(source, size, output);
        break;
    }
}

const LineEndingImplementation kScalarLineEndings = {"scalar", CountCrLfPairsScalar, TransformWindowsToUnixScalar,
                                                     CountLineFeedsScalar, TransformUnixToWindowsScalar};

int CpuidReportsSse2(uint32_t highestLeaf, uint32_t leaf1Edx)
{
    return highestLeaf >= 1 && ((leaf1Edx >> 26) & 1) != 0;
}

int ProcessorHasSse2(void)
{
#if defined(_M_X64) || defined(__x86_64__)
    // Every x86-64 processor runs SSE2. The 64-bit build keeps the dispatch
    // all the same, rather than a second way to the SSE2 code: it asks
    // nothing of the processor, and costs one call through a pointer per
    // pass over the whole text.
    return 1;
#elif defined(_MSC_VER) && defined(_M_IX86)
    int info[4];
    __cpuid(info, 0);
    const uint32_t highest = (uint32_t)info[0];
    __cpuid(info, 1);
    return CpuidReportsSse2(highest, (uint32_t)info[3]);
#elif defined(__i386__)
    // 0 also when the processor has no CPUID instruction at all.
    const unsigned int highest = __get_cpuid_max(0, NULL);
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (highest >= 1)
        __cpuid(1, a, b, c, d);
    return CpuidReportsSse2(highest, d);
#else
    return 0;
#endif
}

const LineEndingImplementation *ChooseLineEndings(int processorHasSse2)
{
    return processorHasSse2 ? &kSse2LineEndings : &kScalarLineEndings;
}

// Chosen once; the answer cannot change while the process runs.
static const LineEndingImplementation *g_dispatched = NULL;

const LineEndingImplementation *DispatchedLineEndings(void)
{
    if (g_dispatched == NULL)
        g_dispatched = ChooseLineEndings(ProcessorHasSse2());
    return g_dispatched;
}

uint32_t CountCrLfPairs(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    return DispatchedLineEndings()->countCrLfPairs(encoding, source, size);
}

void TransformWindowsToUnix(TextEncoding encoding, const unsigned char *source, uint32_t size, unsigned char *output)
{
    DispatchedLineEndings()->windowsToUnix(encoding, source, size, output);
}

uint32_t CountLineFeeds(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    return DispatchedLineEndings()->countLineFeeds(encoding, source, size);
}

void TransformUnixToWindows(TextEncoding encoding, const unsigned char *source, uint32_t size, unsigned char *output)
{
    DispatchedLineEndings()->unixToWindows(encoding, source, size, output);
}
