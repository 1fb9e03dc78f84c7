// SSE2 versions of the transforms. This file alone is compiled with SSE2
// enabled on 32-bit x86, and it includes no library header that could leave
// SSE2 code in a shared inline function; the dispatcher calls it only after
// the processor has said it runs SSE2.
#include "line_endings_impl.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define PELMORA_HAVE_SSE2 1
#include <emmintrin.h>
#endif

#if defined(PELMORA_HAVE_SSE2)

#if defined(_MSC_VER)
#include <intrin.h>
static unsigned LowestSetBit(unsigned mask)
{
    unsigned long index;
    _BitScanForward(&index, mask);
    return (unsigned)index;
}
#else
static unsigned LowestSetBit(unsigned mask)
{
    return (unsigned)__builtin_ctz(mask);
}
#endif

static __m128i Load(const unsigned char *p)
{
    return _mm_loadu_si128((const __m128i *)p);
}

static void Store(unsigned char *p, __m128i v)
{
    _mm_storeu_si128((__m128i *)p, v);
}

// Byte lanes of a compare result are 0 or -1; subtracting them counts matches
// per lane. 255 rounds fill a lane at most, then psadbw sums the lanes.
static uint32_t SumLanes(__m128i counts)
{
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    return (uint32_t)_mm_cvtsi128_si32(sums) + (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}

static uint32_t CountByteLineFeeds(const unsigned char *source, uint32_t size)
{
    const __m128i lf = _mm_set1_epi8(0x0A);
    uint32_t count = 0;
    uint32_t i = 0;
    while (size - i >= 64) {
        // Each round adds up to two matches to a lane, so 127 rounds at most.
        uint32_t rounds = (size - i) / 64;
        if (rounds > 127)
            rounds = 127;
        __m128i a = _mm_setzero_si128();
        __m128i b = _mm_setzero_si128();
        for (uint32_t r = 0; r < rounds; ++r, i += 64) {
            a = _mm_sub_epi8(a, _mm_cmpeq_epi8(Load(source + i), lf));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi8(Load(source + i + 16), lf));
            a = _mm_sub_epi8(a, _mm_cmpeq_epi8(Load(source + i + 32), lf));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi8(Load(source + i + 48), lf));
        }
        count += SumLanes(a) + SumLanes(b);
    }
    return count + CountLineFeedsScalar(kBytes, source + i, size - i);
}

static uint32_t CountBytePairs(const unsigned char *source, uint32_t size)
{
    const __m128i cr = _mm_set1_epi8(0x0D);
    const __m128i lf = _mm_set1_epi8(0x0A);
    uint32_t count = 0;
    uint32_t i = 0;
    // The LF of a pair is read one byte further on, so keep one byte spare.
    while (size - i >= 33) {
        uint32_t rounds = (size - i - 1) / 32;
        if (rounds > 255)
            rounds = 255;
        __m128i a = _mm_setzero_si128();
        __m128i b = _mm_setzero_si128();
        for (uint32_t r = 0; r < rounds; ++r, i += 32) {
            const __m128i pairA = _mm_and_si128(_mm_cmpeq_epi8(Load(source + i), cr),
                                                _mm_cmpeq_epi8(Load(source + i + 1), lf));
            const __m128i pairB = _mm_and_si128(_mm_cmpeq_epi8(Load(source + i + 16), cr),
                                                _mm_cmpeq_epi8(Load(source + i + 17), lf));
            a = _mm_sub_epi8(a, pairA);
            b = _mm_sub_epi8(b, pairB);
        }
        count += SumLanes(a) + SumLanes(b);
    }
    return count + CountCrLfPairsScalar(kBytes, source + i, size - i);
}

// The block loops copy each run between line ends with a whole 16-byte store
// and let the next store overwrite the excess. They stop 64 bytes before the
// end of the source, which keeps every load inside the source and, since no
// more than half of the remaining bytes can be line ends, every store inside
// the exactly sized output. The scalar loop finishes the tail.

static void BytesToUnix(const unsigned char *source, uint32_t size, unsigned char *output)
{
    const __m128i cr = _mm_set1_epi8(0x0D);
    const __m128i lf = _mm_set1_epi8(0x0A);
    uint32_t i = 0;
    unsigned char *out = output;
    while (size - i >= 64) {
        const unsigned char *block = source + i;
        const __m128i bytes = Load(block);
        unsigned mask = (unsigned)_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(Load(block + 1), lf)));
        if (mask == 0) {
            Store(out, bytes);
            out += 16;
        } else {
            unsigned start = 0;
            do {
                const unsigned drop = LowestSetBit(mask);
                Store(out, Load(block + start));
                out += drop - start;
                start = drop + 1;
                mask &= mask - 1;
            } while (mask != 0);
            Store(out, Load(block + start));
            out += 16 - start;
        }
        i += 16;
    }
    TransformWindowsToUnixScalar(kBytes, source + i, size - i, out);
}

static void BytesToWindows(const unsigned char *source, uint32_t size, unsigned char *output)
{
    const __m128i lf = _mm_set1_epi8(0x0A);
    uint32_t i = 0;
    unsigned char *out = output;
    while (size - i >= 64) {
        const unsigned char *block = source + i;
        const __m128i bytes = Load(block);
        unsigned mask = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf));
        if (mask == 0) {
            Store(out, bytes);
            out += 16;
        } else {
            unsigned start = 0;
            do {
                const unsigned at = LowestSetBit(mask);
                Store(out, Load(block + start));
                out += at - start;
                *out++ = 0x0D;
                start = at;
                mask &= mask - 1;
            } while (mask != 0);
            Store(out, Load(block + start));
            out += 16 - start;
        }
        i += 16;
    }
    TransformUnixToWindowsScalar(kBytes, source + i, size - i, out);
}

// UTF-16: the same blocks with 16-bit compares. A unit that matches sets both
// bytes of its lane, so a movemask keeps only each unit's first bit (0x5555)
// and the byte-lane counters count every match twice. Units start at even
// offsets from the start of the file, as every block does. The x86 is little-
// endian, so a big-endian unit U+000D loads as 0x0D00.

static __m128i SetUnit16(TextEncoding encoding, int value)
{
    return _mm_set1_epi16((short)(encoding == kUtf16Be ? value << 8 : value));
}

static uint32_t CountUnit16LineFeeds(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    const __m128i lf = SetUnit16(encoding, 0x0A);
    uint32_t count = 0;
    uint32_t i = 0;
    while (size - i >= 64) {
        uint32_t rounds = (size - i) / 64;
        if (rounds > 127)
            rounds = 127;
        __m128i a = _mm_setzero_si128();
        __m128i b = _mm_setzero_si128();
        for (uint32_t r = 0; r < rounds; ++r, i += 64) {
            a = _mm_sub_epi8(a, _mm_cmpeq_epi16(Load(source + i), lf));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi16(Load(source + i + 16), lf));
            a = _mm_sub_epi8(a, _mm_cmpeq_epi16(Load(source + i + 32), lf));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi16(Load(source + i + 48), lf));
        }
        count += (SumLanes(a) + SumLanes(b)) / 2;
    }
    return count + CountLineFeedsScalar(encoding, source + i, size - i);
}

static uint32_t CountUnit16Pairs(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    const __m128i cr = SetUnit16(encoding, 0x0D);
    const __m128i lf = SetUnit16(encoding, 0x0A);
    uint32_t count = 0;
    uint32_t i = 0;
    // The LF of a pair is the unit after, so keep one unit spare.
    while (size - i >= 34) {
        uint32_t rounds = (size - i - 2) / 32;
        if (rounds > 255)
            rounds = 255;
        __m128i a = _mm_setzero_si128();
        __m128i b = _mm_setzero_si128();
        for (uint32_t r = 0; r < rounds; ++r, i += 32) {
            const __m128i pairA = _mm_and_si128(_mm_cmpeq_epi16(Load(source + i), cr),
                                                _mm_cmpeq_epi16(Load(source + i + 2), lf));
            const __m128i pairB = _mm_and_si128(_mm_cmpeq_epi16(Load(source + i + 16), cr),
                                                _mm_cmpeq_epi16(Load(source + i + 18), lf));
            a = _mm_sub_epi8(a, pairA);
            b = _mm_sub_epi8(b, pairB);
        }
        count += (SumLanes(a) + SumLanes(b)) / 2;
    }
    return count + CountCrLfPairsScalar(encoding, source + i, size - i);
}

static void Units16ToUnix(TextEncoding encoding, const unsigned char *source, uint32_t size, unsigned char *output)
{
    const __m128i cr = SetUnit16(encoding, 0x0D);
    const __m128i lf = SetUnit16(encoding, 0x0A);
    uint32_t i = 0;
    unsigned char *out = output;
    while (size - i >= 64) {
        const unsigned char *block = source + i;
        const __m128i units = Load(block);
        unsigned mask = (unsigned)_mm_movemask_epi8(
                            _mm_and_si128(_mm_cmpeq_epi16(units, cr), _mm_cmpeq_epi16(Load(block + 2), lf))) &
                        0x5555u;
        if (mask == 0) {
            Store(out, units);
            out += 16;
        } else {
            unsigned start = 0;
            do {
                const unsigned drop = LowestSetBit(mask);
                Store(out, Load(block + start));
                out += drop - start;
                start = drop + 2;
                mask &= mask - 1;
            } while (mask != 0);
            Store(out, Load(block + start));
            out += 16 - start;
        }
        i += 16;
    }
    TransformWindowsToUnixScalar(encoding, source + i, size - i, out);
}

static void Units16ToWindows(TextEncoding encoding, const unsigned char *source, uint32_t size,
                             unsigned char *output)
{
    const __m128i lf = SetUnit16(encoding, 0x0A);
    const unsigned char crFirst = encoding == kUtf16Be ? 0x00 : 0x0D;
    const unsigned char crSecond = encoding == kUtf16Be ? 0x0D : 0x00;
    uint32_t i = 0;
    unsigned char *out = output;
    while (size - i >= 64) {
        const unsigned char *block = source + i;
        const __m128i units = Load(block);
        unsigned mask = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi16(units, lf)) & 0x5555u;
        if (mask == 0) {
            Store(out, units);
            out += 16;
        } else {
            unsigned start = 0;
            do {
                const unsigned at = LowestSetBit(mask);
                Store(out, Load(block + start));
                out += at - start;
                out[0] = crFirst;
                out[1] = crSecond;
                out += 2;
                start = at;
                mask &= mask - 1;
            } while (mask != 0);
            Store(out, Load(block + start));
            out += 16 - start;
        }
        i += 16;
    }
    TransformUnixToWindowsScalar(encoding, source + i, size - i, out);
}

// UTF-32 is rare enough that the scalar code serves it.

static uint32_t CountCrLfPairsSse2(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    switch (encoding) {
    case kBytes:
        return CountBytePairs(source, size);
    case kUtf16Le:
    case kUtf16Be:
        return CountUnit16Pairs(encoding, source, size);
    default:
        return CountCrLfPairsScalar(encoding, source, size);
    }
}

static void TransformWindowsToUnixSse2(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                       unsigned char *output)
{
    switch (encoding) {
    case kBytes:
        BytesToUnix(source, size, output);
        break;
    case kUtf16Le:
    case kUtf16Be:
        Units16ToUnix(encoding, source, size, output);
        break;
    default:
        TransformWindowsToUnixScalar(encoding, source, size, output);
        break;
    }
}

static uint32_t CountLineFeedsSse2(TextEncoding encoding, const unsigned char *source, uint32_t size)
{
    switch (encoding) {
    case kBytes:
        return CountByteLineFeeds(source, size);
    case kUtf16Le:
    case kUtf16Be:
        return CountUnit16LineFeeds(encoding, source, size);
    default:
        return CountLineFeedsScalar(encoding, source, size);
    }
}

static void TransformUnixToWindowsSse2(TextEncoding encoding, const unsigned char *source, uint32_t size,
                                       unsigned char *output)
{
    switch (encoding) {
    case kBytes:
        BytesToWindows(source, size, output);
        break;
    case kUtf16Le:
    case kUtf16Be:
        Units16ToWindows(encoding, source, size, output);
        break;
    default:
        TransformUnixToWindowsScalar(encoding, source, size, output);
        break;
    }
}

const LineEndingImplementation kSse2LineEndings = {"sse2", CountCrLfPairsSse2, TransformWindowsToUnixSse2,
                                                   CountLineFeedsSse2, TransformUnixToWindowsSse2};

#else

// Without SSE2 the dispatcher never chooses this; it keeps the program whole.
const LineEndingImplementation kSse2LineEndings = {"sse2 (not built: scalar)", CountCrLfPairsScalar,
                                                   TransformWindowsToUnixScalar, CountLineFeedsScalar,
                                                   TransformUnixToWindowsScalar};

#endif
