// The separate implementations behind the dispatching transforms. Tests and
// benchmarks call them directly so that the scalar fallback is checked on
// machines that would never select it.
#ifndef PELMORA_LINE_ENDINGS_IMPL_H
#define PELMORA_LINE_ENDINGS_IMPL_H

#include <stdint.h>

uint32_t CountCrLfPairsScalar(const unsigned char *source, uint32_t size);
void TransformWindowsToUnixScalar(const unsigned char *source, uint32_t size, unsigned char *output);
uint32_t CountLineFeedsScalar(const unsigned char *source, uint32_t size);
void TransformUnixToWindowsScalar(const unsigned char *source, uint32_t size, unsigned char *output);

uint32_t CountCrLfPairsSse2(const unsigned char *source, uint32_t size);
void TransformWindowsToUnixSse2(const unsigned char *source, uint32_t size, unsigned char *output);
uint32_t CountLineFeedsSse2(const unsigned char *source, uint32_t size);
void TransformUnixToWindowsSse2(const unsigned char *source, uint32_t size, unsigned char *output);

// Non-zero when the processor runs SSE2 code. Always true on x86-64; the
// 32-bit build must ask, because it still starts on processors without it.
int ProcessorHasSse2(void);

#endif
