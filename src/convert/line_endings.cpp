#include "line_endings.h"
#include "line_endings_impl.h"

#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__i386__)
#include <cpuid.h>
#endif

static const unsigned char kCr = 0x0D;
static const unsigned char kLf = 0x0A;

// The scalar loops avoid data-dependent branches: text has a line end every
// few dozen bytes, and a mispredicted branch per line costs more than the
// unconditional stores below.

uint32_t CountCrLfPairsScalar(const unsigned char *source, uint32_t size)
{
    uint32_t pairs = 0;
    for (uint32_t i = 1; i < size; ++i)
        pairs += (uint32_t)((source[i - 1] == kCr) & (source[i] == kLf));
    return pairs;
}

void TransformWindowsToUnixScalar(const unsigned char *source, uint32_t size, unsigned char *output)
{
    if (size == 0)
        return;
    uint32_t out = 0;
    for (uint32_t i = 0; i + 1 < size; ++i) {
        // A CR that starts a pair is stored and then overwritten by what
        // follows it; the LF of the pair always follows, so the store is in
        // bounds.
        output[out] = source[i];
        out += (uint32_t)!((source[i] == kCr) & (source[i + 1] == kLf));
    }
    output[out] = source[size - 1];
}

uint32_t CountLineFeedsScalar(const unsigned char *source, uint32_t size)
{
    uint32_t count = 0;
    for (uint32_t i = 0; i < size; ++i)
        count += (uint32_t)(source[i] == kLf);
    return count;
}

void TransformUnixToWindowsScalar(const unsigned char *source, uint32_t size, unsigned char *output)
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

int ProcessorHasSse2(void)
{
#if defined(_M_X64) || defined(__x86_64__)
    return 1;
#elif defined(_MSC_VER) && defined(_M_IX86)
    int info[4];
    __cpuid(info, 1);
    return (info[3] >> 26) & 1;
#elif defined(__i386__)
    unsigned int a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return 0;
    return (int)((d >> 26) & 1);
#else
    return 0;
#endif
}

// Asked once; the answer cannot change while the process runs.
static int g_useSse2 = -1;

static int UseSse2(void)
{
    if (g_useSse2 < 0)
        g_useSse2 = ProcessorHasSse2();
    return g_useSse2;
}

uint32_t CountCrLfPairs(const unsigned char *source, uint32_t size)
{
    return UseSse2() ? CountCrLfPairsSse2(source, size) : CountCrLfPairsScalar(source, size);
}

void TransformWindowsToUnix(const unsigned char *source, uint32_t size, unsigned char *output)
{
    if (UseSse2())
        TransformWindowsToUnixSse2(source, size, output);
    else
        TransformWindowsToUnixScalar(source, size, output);
}

uint32_t CountLineFeeds(const unsigned char *source, uint32_t size)
{
    return UseSse2() ? CountLineFeedsSse2(source, size) : CountLineFeedsScalar(source, size);
}

void TransformUnixToWindows(const unsigned char *source, uint32_t size, unsigned char *output)
{
    if (UseSse2())
        TransformUnixToWindowsSse2(source, size, output);
    else
        TransformUnixToWindowsScalar(source, size, output);
}
