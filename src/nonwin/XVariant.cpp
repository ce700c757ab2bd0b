// XVariant construction, copying, sizes, equality and conversions.
#include "XVariant.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Truncation toward zero that saturates instead of overflowing: a double
// outside the integer's range (or NaN) has no defined conversion.
int32_t TruncToInt32(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

int64_t TruncToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
}

// "#RRGGBB" gives 0x00BBGGRR.
uint32_t ColourToInt(const char* sz) {
    // 64 bits on every target: a longer text keeps its low bits, as on x86-64.
    unsigned long long n = strtoull(sz + 1, nullptr, 16);
    return static_cast<uint32_t>(((n & 0xFF) << 16) | (n & 0xFF00) | ((n >> 16) & 0xFF));
}

}  // namespace

XVariant::XVariant() : vt(VT_EMPTY), llVal(0) {}

XVariant::XVariant(LPCSTR sz) : vt(VT_EMPTY), llVal(0) {
    *this = sz;
}

#define XVARIANT_SCALAR(T, VT, member)           \
    XVariant::XVariant(T v) : vt(VT), llVal(0) { \
        member = v;                              \
    }                                            \
    XVariant& XVariant::operator=(T v) {         \
        Clear();                                 \
        vt = VT;                                 \
        member = v;                              \
        return *this;                            \
    }

XVARIANT_SCALAR(bool, VT_BOOL, boolVal)
XVARIANT_SCALAR(char, VT_I1, cVal)
XVARIANT_SCALAR(BYTE, VT_UI1, bVal)
XVARIANT_SCALAR(short, VT_I2, iVal)
XVARIANT_SCALAR(USHORT, VT_UI2, uiVal)
XVARIANT_SCALAR(int, VT_I4, lVal)
XVARIANT_SCALAR(UINT, VT_UI4, ulVal)
XVARIANT_SCALAR(float, VT_R4, fltVal)
#undef XVARIANT_SCALAR

XVariant::XVariant(long long ll) : vt(VT_I8), llVal(ll) {}

// long is 64 bits wide on LP64 builds: a value that does not fit the 32-bit
// member is kept whole as VT_I8 rather than cut.
XVariant::XVariant(long l) : vt(VT_EMPTY), llVal(0) {
    *this = l;
}

XVariant& XVariant::operator=(long l) {
    Clear();
    if (l >= INT32_MIN && l <= INT32_MAX) {
        vt = VT_I4;
        lVal = static_cast<int>(l);
    } else {
        vt = VT_I8;
        llVal = l;
    }
    return *this;
}

XVariant::XVariant(ULONG u) : vt(VT_EMPTY), llVal(0) {
    *this = u;
}

XVariant& XVariant::operator=(ULONG u) {
    Clear();
    if (u <= UINT32_MAX) {
        vt = VT_UI4;
        ulVal = static_cast<UINT>(u);
    } else {
        vt = VT_I8;
        llVal = static_cast<long long>(u);
    }
    return *this;
}

XVariant::XVariant(double d, VARTYPE vtSrc) : vt(vtSrc == VT_DATE ? VT_DATE : VT_R8), llVal(0) {
    dblVal = d;
}

XVariant::XVariant(const XVariant& varSrc) : vt(VT_EMPTY), llVal(0) {
    *this = varSrc;
}

XVariant::~XVariant() {
    Clear();
}

XVariant& XVariant::operator=(LPCSTR sz) {
    // sz may point into the text this variant owns.
    CString* pNew = new CString(sz ? sz : "");
    Clear();
    vt = VT_BSTR;
    pStrVal = pNew;
    return *this;
}

XVariant& XVariant::operator=(double d) {
    VARTYPE vtNew = vt == VT_DATE ? VT_DATE : VT_R8;
    Clear();
    vt = vtNew;
    dblVal = d;
    return *this;
}

XVariant& XVariant::operator=(const XVariant& varSrc) {
    if (this == &varSrc) return *this;
    if (varSrc.vt == VT_BSTR) {
        const char* sz = varSrc.pStrVal ? varSrc.pStrVal->c_str() : "";
        // A text over a text keeps its storage: no allocation once it is large enough.
        if (vt == VT_BSTR && pStrVal != nullptr) {
            pStrVal->assign(sz);
            return *this;
        }
        *this = sz;
        return *this;
    }
    Clear();
    vt = varSrc.vt;
    llVal = varSrc.llVal;
    return *this;
}

void XVariant::Clear() {
    if (vt == VT_BSTR) delete pStrVal;
    vt = VT_EMPTY;
    llVal = 0;
}

void XVariant::SetText(const char* sz, size_t n) {
    Clear();
    vt = VT_BSTR;
    pStrVal = new CString(std::string(sz, n));
}

BYTE XVariant::GetVTSize(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_UI2:
            return 2;
        case VT_I4:
        case VT_R4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
            return 4;
        case VT_R8:
        case VT_DATE:
        case VT_I8:
            return 8;
        case VT_BOOL:
        case VT_I1:
        case VT_UI1:
            return 1;
        default:
            return 0;
    }
}

UINT XVariant::GetVTSize(VARTYPE vt, UINT nCount) {
    switch (vt) {
        case VT_I2:
        case VT_UI2:
            return 2 * nCount;
        case VT_I4:
        case VT_R4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
            return 4 * nCount;
        case VT_R8:
        case VT_I8:
            return 8 * nCount;
        case VT_I1:
        case VT_UI1:
            return nCount;
        case VT_BOOL:
            return (nCount + 7) / 8;  // packed eight to a byte
        default:
            return 0;
    }
}

BYTE XVariant::GetVTSizeW(VARTYPE vt) {
    switch (vt) {
        case VT_I4:
        case VT_R4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
            return 2;
        case VT_R8:
        case VT_I8:
            return 4;
        default:
            return 1;
    }
}

bool XVariant::operator==(const XVariant& varSrc) const {
    if (vt != varSrc.vt) return false;
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_I1:
        case VT_UI1:
            return bVal == varSrc.bVal;
        case VT_BOOL:
            return boolVal == varSrc.boolVal;
        case VT_I2:
        case VT_UI2:
            return uiVal == varSrc.uiVal;
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
            return ulVal == varSrc.ulVal;
        case VT_I8:
            return llVal == varSrc.llVal;
        case VT_R4:
            return fltVal == varSrc.fltVal;
        case VT_R8:
        case VT_DATE:
            return dblVal == varSrc.dblVal;
        case VT_BSTR:
            return strcmp(pStrVal ? pStrVal->c_str() : "",
                          varSrc.pStrVal ? varSrc.pStrVal->c_str() : "") == 0;
        default:
            return false;
    }
}

double XVariant::ToDouble() const {
    switch (vt) {
        case VT_I2:
            return iVal;
        case VT_I4:
        case VT_INT:
            return lVal;
        case VT_UI4:
        case VT_UINT:
            return ulVal;
        case VT_I8:
            return static_cast<double>(llVal);
        case VT_R4:
            return fltVal;
        case VT_R8:
        case VT_DATE:
            return dblVal;
        case VT_BOOL:
            return boolVal ? 1.0 : 0.0;
        case VT_I1:
            return cVal;
        case VT_UI1:
            return bVal;
        case VT_UI2:
            return uiVal;
        case VT_BSTR:
            return pStrVal ? strtod(pStrVal->c_str(), nullptr) : 0.0;
        default:
            return 0.0;
    }
}

float XVariant::ToFloat() const {
    return static_cast<float>(ToDouble());
}

UINT XVariant::ToInt() const {
    switch (vt) {
        case VT_I2:
            return static_cast<UINT>(static_cast<int>(iVal));
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
            return ulVal;
        case VT_I8:
            return static_cast<UINT>(llVal);
        case VT_R4:
            return static_cast<UINT>(TruncToInt32(fltVal));
        case VT_R8:
        case VT_DATE:
            return static_cast<UINT>(TruncToInt32(dblVal));
        case VT_BOOL:
            return boolVal ? 1 : 0;
        case VT_I1:
            return static_cast<UINT>(static_cast<int>(cVal));
        case VT_UI1:
            return bVal;
        case VT_UI2:
            return uiVal;
        case VT_BSTR: {
            const char* sz = pStrVal ? pStrVal->c_str() : "";
            if (sz[0] == '#') return ColourToInt(sz);
            return static_cast<UINT>(strtoull(sz, nullptr, 10));
        }
        default:
            return 0;
    }
}

unsigned long long XVariant::ToInt64() const {
    switch (vt) {
        case VT_I2:
            return static_cast<unsigned long long>(static_cast<long long>(iVal));
        case VT_I4:
        case VT_INT:
            return static_cast<unsigned long long>(static_cast<long long>(lVal));
        case VT_UI4:
        case VT_UINT:
            return ulVal;
        case VT_I8:
            return static_cast<unsigned long long>(llVal);
        case VT_R4:
            return static_cast<unsigned long long>(TruncToInt64(fltVal));
        case VT_R8:
        case VT_DATE:
            return static_cast<unsigned long long>(TruncToInt64(dblVal));
        case VT_BOOL:
            return boolVal ? 1 : 0;
        case VT_I1:
            return static_cast<unsigned long long>(static_cast<long long>(cVal));
        case VT_UI1:
            return bVal;
        case VT_UI2:
            return uiVal;
        case VT_BSTR: {
            const char* sz = pStrVal ? pStrVal->c_str() : "";
            if (sz[0] == '#') return ColourToInt(sz);
            return strtoull(sz, nullptr, 10);
        }
        default:
            return 0;
    }
}

bool XVariant::ToBool() const {
    return ToInt() != 0;
}

DATE XVariant::ToDate() const {
    if (vt != VT_BSTR) return ToDouble();
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    const char* sz = pStrVal ? pStrVal->c_str() : "";
    if (sscanf(sz, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) < 1) {
        return 0.0;
    }
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    // Standard time: with the zone's standard offset taken off again below,
    // the result is the wall-clock reading with no zone, summer or winter.
    t.tm_isdst = 0;
    time_t secs = mktime(&t);
    return static_cast<double>(secs - timezone) / 86400.0 + 25569.0;
}

HRESULT XVariant::ChangeType(VARTYPE vtNew, const XVariant* pSrc) {
    if (vt == vtNew) return 0;
    XVariant varOld(*this);
    const XVariant& src = (pSrc != nullptr && pSrc != this) ? *pSrc : varOld;
    Clear();
    vt = vtNew;
    switch (vtNew) {
        case VT_I2:
        case VT_UI2:
            uiVal = static_cast<USHORT>(src.ToInt());
            return 0;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
            ulVal = src.ToInt();
            return 0;
        case VT_R4:
            fltVal = src.ToFloat();
            return 0;
        case VT_R8:
            dblVal = src.ToDouble();
            return 0;
        case VT_DATE:
            date = src.ToDate();
            return 0;
        case VT_BSTR: {
            CString* pStr = new CString();
            src.ToStringA(*pStr, -1);
            pStrVal = pStr;
            return 0;
        }
        case VT_BOOL:
            boolVal = src.ToInt() != 0;
            return 0;
        case VT_I1:
        case VT_UI1:
            bVal = static_cast<BYTE>(src.ToInt());
            return 0;
        case VT_I8:
            llVal = static_cast<long long>(src.ToInt64());
            return 0;
        default:
            return 1;
    }
}
