// The reply chunks of advise ('b') and read ('H') requests, as pure
// functions over the bytes received. A chunk is the code, for reads a more
// flag, the 16-bit length L of the values, then L bytes of typed values;
// a value never straddles two chunks.
#ifndef QX_REPLYCHUNK_H
#define QX_REPLYCHUNK_H

#include <cstddef>

#include "XVariant.h"

const size_t kChunkHeadLenAdvise = 3;
const size_t kChunkHeadLenRead = 4;
const size_t kMaxChunkBytes = 4096;  // value bytes one chunk may announce

// Reads a chunk head from p[0, n): false when n is not the head's length, the
// code is not code, or L exceeds kMaxChunkBytes.
bool ParseChunkHead(const BYTE* p, size_t n, BYTE code, bool bMoreFlag, bool& bMore, size_t& nLen);

// Decodes typed values from p[0, n) into out[0], out[1], ... until the bytes
// are used up or nOut values are decoded. Returns how many were decoded, with
// *pUsed the bytes they took; a value cut off by the end of the bytes makes
// bCut true (the values before it are decoded).
size_t DecodeChunkValues(const BYTE* p, size_t n, XVariant* const* out, size_t nOut, size_t* pUsed,
                         bool& bCut);

#endif  // QX_REPLYCHUNK_H
