// Code-page conversions of CString through iconv. Each conversion opens its
// own converter, converts in one call and closes it, so no state is shared.
#include <errno.h>
#include <iconv.h>
#include <stdio.h>

#include <cstring>

#include "cstring.h"

namespace {

struct Conversion {
    const char* to;
    const char* from;
    const char* szOpenErr;
    const char* szConvErr;
};

const Conversion kFromUtf16 = {"GB2312", "UCS-2LE", "FromUtf16:iconv_open", "FromUtf16:iconv"};
const Conversion kToUtf8 = {"UTF-8", "GB2312", "ToUtf8:iconv_open:", "ToUtf8:iconv:"};
const Conversion kFromUtf8 = {"GB2312", "UTF-8", "FromUtf8:iconv_open:", "FromUtf8:iconv:"};
const Conversion kToUtf16 = {"UCS-2LE", "GB2312", "ToUtf16:iconv_open:", "ToUtf16:iconv"};

enum ConvResult { kConvOk, kConvCut, kConvNoOpen };

// Converts inlen bytes into out, which has room for nOutMax bytes; nOut is
// what was produced, also when the conversion stopped early.
ConvResult Convert(const Conversion& c, const char* in, size_t inlen, char* out, size_t nOutMax,
                   size_t& nOut) {
    nOut = 0;
    iconv_t cd = iconv_open(c.to, c.from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        perror(c.szOpenErr);
        return kConvNoOpen;
    }
    char* pIn = const_cast<char*>(in);
    char* pOut = out;
    size_t nInLeft = inlen;
    size_t nOutLeft = nOutMax;
    size_t r = iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft);
    int err = errno;
    nOut = nOutMax - nOutLeft;
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) {
        errno = err;
        perror(c.szConvErr);
        return kConvCut;
    }
    return kConvOk;
}

// Output sized to the bound, converted, then shrunk to what was produced.
CString ConvertToString(const Conversion& c, const char* in, size_t inlen, size_t nBound) {
    CString out;
    out.resize(nBound);
    size_t nOut = 0;
    Convert(c, in, inlen, &out[size_t{0}], nBound, nOut);
    out.resize(nOut);
    return out;
}

}  // namespace

void ToUtf8(const char* szInBuf, CString& strUtf8, size_t inlen) {
    if (inlen == 0) inlen = strlen(szInBuf);
    // Built apart first: szInBuf may point into strUtf8.
    CString out = ConvertToString(kToUtf8, szInBuf, inlen, 2 * inlen);
    strUtf8.swap(out);
}

void CString::ToUtf8(CString& strUtf8) const {
    CString out = ConvertToString(kToUtf8, data(), size(), 2 * size());
    strUtf8.swap(out);
}

void CString::FromUtf8(const char* szUtf8, size_t len) {
    CString out = ConvertToString(kFromUtf8, szUtf8, len, 2 * len);
    swap(out);
}

void CString::FromUtf16(const unsigned short* szUtf16, size_t len) {
    CString out =
        ConvertToString(kFromUtf16, reinterpret_cast<const char*>(szUtf16), 2 * len, 3 * len + 3);
    swap(out);
}

unsigned short* ToUtf16(const char* szInBuf, size_t& outLen, size_t inlen) {
    outLen = 0;
    if (inlen == 0) inlen = strlen(szInBuf);
    const size_t nUnits = inlen + 1;
    unsigned short* pOut = new unsigned short[nUnits];
    size_t nOut = 0;
    if (Convert(kToUtf16, szInBuf, inlen, reinterpret_cast<char*>(pOut), 2 * nUnits, nOut) !=
        kConvOk) {
        delete[] pOut;
        return nullptr;
    }
    outLen = nOut / 2;
    return pOut;
}

unsigned short* CString::ToUtf16(size_t& outLen) const {
    return ::ToUtf16(c_str(), outLen, strlen(c_str()));
}

CUTF82T::CUTF82T(const char* szUtf8) {
    FromUtf8(szUtf8, strlen(szUtf8));
}
