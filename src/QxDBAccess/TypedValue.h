// The typed wire form of one value as the bindings write it: the 16-bit
// type code, then the payload, little-endian.
#ifndef QX_TYPEDVALUE_H
#define QX_TYPEDVALUE_H

#include <cstring>

#include "ByteOrder.h"
#include "XVariant.h"

// Appends vt and the n payload bytes at p to buf[nLen, nMax) and advances
// nLen; false, with nothing written, when they do not fit.
inline bool AppendTyped(BYTE* buf, size_t& nLen, size_t nMax, VARTYPE vt, const void* p, size_t n) {
    if (nLen > nMax || nMax - nLen < 2 + n) return false;
    PutLE16(buf + nLen, vt);
    memcpy(buf + nLen + 2, p, n);
    nLen += 2 + n;
    return true;
}

#endif  // QX_TYPEDVALUE_H
