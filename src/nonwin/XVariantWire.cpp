// The wire form of XVariant: encoding and the two decoders.
#include <cstdint>
#include <cstring>

#include "ByteOrder.h"
#include "XVariant.h"

namespace {

const size_t kNoFit = SIZE_MAX;
// Arrays hold typed values, which may be arrays again; the depth is capped
// so that hostile bytes cannot exhaust the stack.
const int kMaxArrayDepth = 16;

size_t TextLength(const XVariant& v) {
    return v.pStrVal ? strlen(v.pStrVal->c_str()) : 0;
}

bool IsArray(VARTYPE vt) {
    return (vt & VT_ARRAY) != 0;
}

}  // namespace

size_t XVariant::BufferSize(bool bIncludeVT) const {
    size_t n = vt == VT_BSTR ? TextLength(*this) + 1 : GetVTSize(vt);
    return bIncludeVT ? n + 2 : n;
}

size_t XVariant::ToBuffer(BYTE* pBuffer, size_t nBufLen, bool bIncludeVT) const {
    const size_t nNeed = BufferSize(bIncludeVT);
    if (pBuffer == nullptr || nBufLen < nNeed) return 0;
    BYTE* p = pBuffer;
    if (bIncludeVT) {
        PutLE16(p, vt);
        p += 2;
    }
    switch (vt) {
        case VT_I2:
        case VT_UI2:
            PutLE16(p, uiVal);
            break;
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
            PutLE32(p, ulVal);
            break;
        case VT_R4: {
            uint32_t bits;
            memcpy(&bits, &fltVal, 4);
            PutLE32(p, bits);
            break;
        }
        case VT_R8:
        case VT_DATE: {
            uint64_t bits;
            memcpy(&bits, &dblVal, 8);
            PutLE64(p, bits);
            break;
        }
        case VT_I8:
            PutLE64(p, static_cast<uint64_t>(llVal));
            break;
        case VT_BOOL:
            p[0] = boolVal ? 1 : 0;
            break;
        case VT_I1:
        case VT_UI1:
            p[0] = bVal;
            break;
        case VT_BSTR: {
            size_t n = TextLength(*this);
            if (n) memcpy(p, pStrVal->c_str(), n);
            p[n] = 0;
            break;
        }
        default:
            break;
    }
    return nNeed;
}

size_t XVariant::FromBuffer(const BYTE* pBuffer, bool bIncludeVT) {
    // The caller vouches for the bytes; the bounded decoder does the work.
    size_t n = Decode(pBuffer, nullptr, bIncludeVT, 0);
    return n == kNoFit ? 0 : n;
}

size_t XVariant::FromBuffer(const BYTE* pBuffer, size_t nLen, bool bIncludeVT) {
    if (pBuffer == nullptr) return 0;
    XVariant var;
    var.vt = vt;
    size_t n = var.Decode(pBuffer, pBuffer + nLen, bIncludeVT, 0);
    if (n == kNoFit) return 0;
    *this = var;
    return n;
}

size_t XVariant::UpdateFromBuffer(const BYTE* pBuffer, size_t nLen) {
    if (pBuffer == nullptr) return 0;
    if (vt == VT_BSTR) {
        const void* nul = memchr(pBuffer, 0, nLen);
        if (nul == nullptr) return 0;
        size_t n = static_cast<size_t>(static_cast<const BYTE*>(nul) - pBuffer);
        if (pStrVal == nullptr) {
            SetText(reinterpret_cast<const char*>(pBuffer), n);
        } else {
            pStrVal->assign(reinterpret_cast<const char*>(pBuffer), n);
        }
        return n + 1;
    }
    // Scalars straight into the payload: this runs once per tag change.
    switch (vt) {
        case VT_I2:
        case VT_UI2:
            if (nLen < 2) return 0;
            llVal = 0;
            uiVal = GetLE16(pBuffer);
            return 2;
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
            if (nLen < 4) return 0;
            llVal = 0;
            ulVal = GetLE32(pBuffer);
            return 4;
        case VT_R4: {
            if (nLen < 4) return 0;
            uint32_t bits = GetLE32(pBuffer);
            llVal = 0;
            memcpy(&fltVal, &bits, 4);
            return 4;
        }
        case VT_R8:
        case VT_DATE: {
            if (nLen < 8) return 0;
            uint64_t bits = GetLE64(pBuffer);
            memcpy(&dblVal, &bits, 8);
            return 8;
        }
        case VT_I8:
            if (nLen < 8) return 0;
            llVal = static_cast<long long>(GetLE64(pBuffer));
            return 8;
        case VT_BOOL:
            if (nLen < 1) return 0;
            llVal = 0;
            boolVal = pBuffer[0] != 0;
            return 1;
        case VT_I1:
        case VT_UI1:
            if (nLen < 1) return 0;
            llVal = 0;
            bVal = pBuffer[0];
            return 1;
        default:
            return FromBuffer(pBuffer, nLen, false);
    }
}

// Decodes one value from p. end is one past the last readable byte, or null
// when the caller guarantees the whole value is there. Returns the bytes
// read, or kNoFit when the value runs past end.
size_t XVariant::Decode(const BYTE* p, const BYTE* end, bool bIncludeVT, int depth) {
    const BYTE* const start = p;
    auto avail = [&](size_t n) { return end == nullptr || static_cast<size_t>(end - p) >= n; };

    VARTYPE vtNew = vt;
    if (bIncludeVT) {
        if (!avail(2)) return kNoFit;
        vtNew = GetLE16(p);
        p += 2;
    }
    Clear();
    vt = vtNew;

    if (vt == VT_BSTR || (vt == VT_JSOBJ && bIncludeVT)) {
        // Code 9 carries a text too; it is held as an ordinary text.
        size_t n = 0;
        while (avail(n + 1) && p[n] != 0)
            n++;
        if (!avail(n + 1)) {
            Clear();
            return kNoFit;
        }
        SetText(reinterpret_cast<const char*>(p), n);
        return static_cast<size_t>(p - start) + n + 1;
    }

    if (IsArray(vt)) {
        if (!avail(2) || depth >= kMaxArrayDepth) {
            Clear();
            return kNoFit;
        }
        UINT nCount = GetLE16(p);
        p += 2;
        XVariant scratch;
        for (UINT i = 0; i < nCount; i++) {
            size_t n = scratch.Decode(p, end, true, depth + 1);
            if (n == kNoFit) {
                Clear();
                return kNoFit;
            }
            p += n;
        }
        vt = VT_ARRAY | VT_VARIANT;
        return static_cast<size_t>(p - start);
    }

    const size_t nSize = GetVTSize(vt);
    if (!avail(nSize)) {
        vt = VT_EMPTY;
        return kNoFit;
    }
    switch (vt) {
        case VT_I2:
        case VT_UI2:
            uiVal = GetLE16(p);
            break;
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
            ulVal = GetLE32(p);
            break;
        case VT_R4: {
            uint32_t bits = GetLE32(p);
            memcpy(&fltVal, &bits, 4);
            break;
        }
        case VT_R8:
        case VT_DATE: {
            uint64_t bits = GetLE64(p);
            memcpy(&dblVal, &bits, 8);
            break;
        }
        case VT_I8:
            llVal = static_cast<long long>(GetLE64(p));
            break;
        case VT_BOOL:
            boolVal = p[0] != 0;
            break;
        case VT_I1:
        case VT_UI1:
            bVal = p[0];
            break;
        default:
            break;  // no payload belongs to this code
    }
    return static_cast<size_t>(p - start) + nSize;
}
