#include "ReplyChunk.h"

#include "ByteOrder.h"

bool ParseChunkHead(const BYTE* p, size_t n, BYTE code, bool bMoreFlag, bool& bMore, size_t& nLen) {
    const size_t nHead = bMoreFlag ? kChunkHeadLenRead : kChunkHeadLenAdvise;
    if (p == nullptr || n != nHead || p[0] != code) return false;
    bMore = bMoreFlag && p[1] == 1;
    nLen = GetLE16(p + nHead - 2);
    return nLen <= kMaxChunkBytes;
}

size_t DecodeChunkValues(const BYTE* p, size_t n, XVariant* const* out, size_t nOut, size_t* pUsed,
                         bool& bCut) {
    size_t nPos = 0, i = 0;
    bCut = false;
    while (nPos < n && i < nOut) {
        size_t used = out[i]->FromBuffer(p + nPos, n - nPos, true);
        if (used == 0) {
            bCut = true;
            break;
        }
        nPos += used;
        i++;
    }
    if (pUsed) *pUsed = nPos;
    return i;
}
