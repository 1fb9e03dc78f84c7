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

uint32_t CountLineFeedsSse2(const unsigned char *source, uint32_t size)
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
    return count + CountLineFeedsScalar(source + i, size - i);
}

uint32_t CountCrLfPairsSse2(const unsigned char *source, uint32_t size)
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
    return count + CountCrLfPairsScalar(source + i, size - i);
}

// The block loops copy each run between line ends with a whole 16-byte store
// and let the next store overwrite the excess. They stop 64 bytes before the
// end of the source, which keeps every load inside the source and, since no
// more than half of the remaining bytes can be line ends, every store inside
// the exactly sized output. The scalar loop finishes the tail.

void TransformWindowsToUnixSse2(const unsigned char *source, uint32_t size, unsigned char *output)
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
    TransformWindowsToUnixScalar(source + i, size - i, out);
}

void TransformUnixToWindowsSse2(const unsigned char *source, uint32_t size, unsigned char *output)
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
    TransformUnixToWindowsScalar(source + i, size - i, out);
}

#else

// Without SSE2 the dispatcher never calls these; they keep the program whole.
uint32_t CountCrLfPairsSse2(const unsigned char *source, uint32_t size)
{
    return CountCrLfPairsScalar(source, size);
}
void TransformWindowsToUnixSse2(const unsigned char *source, uint32_t size, unsigned char *output)
{
    TransformWindowsToUnixScalar(source, size, output);
}
uint32_t CountLineFeedsSse2(const unsigned char *source, uint32_t size)
{
    return CountLineFeedsScalar(source, size);
}
void TransformUnixToWindowsSse2(const unsigned char *source, uint32_t size, unsigned char *output)
{
    TransformUnixToWindowsScalar(source, size, output);
}

#endif
