// In-memory line-ending transforms. They know nothing of files or windows, so
// they can be tested and benchmarked alone. Each direction is a counting pass,
// which sizes the output exactly, and a transform pass into that output.
#ifndef PELMORA_LINE_ENDINGS_H
#define PELMORA_LINE_ENDINGS_H

#include <stdint.h>

// How the text stores its characters, as its first bytes say. Only a UTF-16
// or UTF-32 byte-order mark makes text anything but bytes: UTF-8 (with or
// without its mark) and the ANSI and DBCS code pages keep CR and LF as the
// bytes 0x0D and 0x0A, which never occur inside another character there.
enum TextEncoding {
    kBytes,
    kUtf16Le,
    kUtf16Be,
    kUtf32Le,
    kUtf32Be
};

// FF FE 00 00, 00 00 FE FF, FF FE and FE FF, in that order; anything else,
// including a file too short for a mark, is bytes. The content is never
// guessed from.
TextEncoding DetectTextEncoding(const unsigned char *source, uint32_t size);

// 1, 2 or 4: the size of a code unit, and so how many bytes each line end
// adds or removes. CR and LF are the units U+000D and U+000A, in the text's
// byte order, counted from the first byte of the file; the mark is the first
// unit and is kept. Bytes after the last whole unit of a truncated file are
// copied unchanged.
uint32_t CodeUnitSize(TextEncoding encoding);

// Windows to Unix: only a CR that an LF follows is a line end. A lone CR is
// ordinary data and is kept, so the output is size - unit * CountCrLfPairs
// bytes.
uint32_t CountCrLfPairs(TextEncoding encoding, const unsigned char *source, uint32_t size);
void TransformWindowsToUnix(TextEncoding encoding, const unsigned char *source, uint32_t size,
                            unsigned char *output);

// Unix to Windows: every LF becomes CR LF, even one that a CR already
// precedes, so the output is size + unit * CountLineFeeds bytes.
uint32_t CountLineFeeds(TextEncoding encoding, const unsigned char *source, uint32_t size);
void TransformUnixToWindows(TextEncoding encoding, const unsigned char *source, uint32_t size,
                            unsigned char *output);

// Whether an output of size + count * growth bytes and its terminating NUL
// can be sized, allocated and indexed with 32-bit counts.
int OutputFitsIn32Bits(uint32_t size, uint32_t count, uint32_t growth);

#endif
