// In-memory line-ending transforms. They know nothing of files or windows, so
// they can be tested and benchmarked alone. Each direction is a counting pass,
// which sizes the output exactly, and a transform pass into that output.
#ifndef PELMORA_LINE_ENDINGS_H
#define PELMORA_LINE_ENDINGS_H

#include <stdint.h>

// Windows to Unix: only a CR that an LF follows is a line end. A lone CR is
// ordinary data and is kept, so the output is size - CountCrLfPairs bytes.
uint32_t CountCrLfPairs(const unsigned char *source, uint32_t size);
void TransformWindowsToUnix(const unsigned char *source, uint32_t size, unsigned char *output);

// Unix to Windows: every LF becomes CR LF, even one that a CR already
// precedes, so the output is size + CountLineFeeds bytes.
uint32_t CountLineFeeds(const unsigned char *source, uint32_t size);
void TransformUnixToWindows(const unsigned char *source, uint32_t size, unsigned char *output);

#endif
