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

uint32_t CountCrLfPairsScalar(const unsigned char *source, uint32_t size)
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

void TransformWindowsToUnixScalar(const unsigned char *source, uint32_t size, unsigned char *output)
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
