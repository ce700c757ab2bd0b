// XVariant: one tag value, a VARTYPE code and an 8-byte payload, with its
// conversions, its text form and its wire encoding.
//
// Wire form: optionally the 16-bit type code, then the payload, both
// little-endian, with no length prefix; a text is its bytes and a zero byte.
#ifndef QX_NONWIN_XVARIANT_H
#define QX_NONWIN_XVARIANT_H

#include <cstddef>

#include "cstring.h"
#include "wintypes.h"

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_RECORD = 36,
    VT_INT_PTR = 37,
    VT_UINT_PTR = 38,
    VT_FILETIME = 64,
    VT_BLOB = 65,
    VT_STREAM = 66,
    VT_STORAGE = 67,
    VT_STREAMED_OBJECT = 68,
    VT_STORED_OBJECT = 69,
    VT_BLOB_OBJECT = 70,
    VT_CF = 71,
    VT_CLSID = 72,
    VT_VERSIONED_STREAM = 73,
    VT_BSTR_BLOB = 0x0FFF,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_ILLEGAL = 0xFFFF,
    VT_ILLEGALMASKED = 0x0FFF,
    VT_TYPEMASK = 0x0FFF,

    VT_STR = 8,    // a zero-terminated 8-bit text (same code as VT_BSTR)
    VT_JSOBJ = 9,  // a script object sent as text (same code as VT_DISPATCH)
};

class XVariant {
public:
    XVariant();
    XVariant(LPCSTR sz);
    XVariant(bool b);
    XVariant(char c);
    XVariant(BYTE b);
    XVariant(short i);
    XVariant(USHORT u);
    XVariant(int i);    // VT_I4
    XVariant(long l);   // VT_I4, or VT_I8 when it needs more than 32 bits
    XVariant(UINT u);   // VT_UI4
    XVariant(ULONG u);  // VT_UI4, or VT_I8 when it needs more than 32 bits
    XVariant(float f);
    XVariant(long long ll);
    XVariant(double d, VARTYPE vtSrc);  // VT_R8 or VT_DATE
    XVariant(const XVariant& varSrc);
    ~XVariant();

    XVariant& operator=(LPCSTR sz);
    XVariant& operator=(bool b);
    XVariant& operator=(char c);
    XVariant& operator=(BYTE b);
    XVariant& operator=(short i);
    XVariant& operator=(USHORT u);
    XVariant& operator=(int i);
    XVariant& operator=(long l);
    XVariant& operator=(UINT u);
    XVariant& operator=(ULONG u);
    XVariant& operator=(float f);
    // Keeps VT_DATE when the variant already holds a date, else VT_R8.
    XVariant& operator=(double d);
    XVariant& operator=(const XVariant& varSrc);

    // Frees an owned text; leaves VT_EMPTY with a zero payload.
    void Clear();

    static BYTE GetVTSize(VARTYPE vt);
    static UINT GetVTSize(VARTYPE vt, UINT nCount);
    static BYTE GetVTSizeW(VARTYPE vt);

    size_t BufferSize(bool bIncludeVT) const;
    // Writes BufferSize(bIncludeVT) bytes. When nBufLen is smaller, writes
    // nothing and returns 0.
    size_t ToBuffer(BYTE* pBuffer, size_t nBufLen, bool bIncludeVT) const;
    // REQUIRES: pBuffer holds the whole encoded value. Returns bytes read.
    size_t FromBuffer(const BYTE* pBuffer, bool bIncludeVT);
    // Reads only within pBuffer[0, nLen). Returns bytes read, or 0 when the
    // value does not fit; the variant is then left unchanged. Server bytes
    // are decoded through this form only.
    size_t FromBuffer(const BYTE* pBuffer, size_t nLen, bool bIncludeVT);
    // The untyped form of the present type, decoded straight into this
    // variant within pBuffer[0, nLen); a text reuses its storage. Returns the
    // bytes read, or 0 (variant unchanged) when the value does not fit or
    // the type carries no payload.
    size_t UpdateFromBuffer(const BYTE* pBuffer, size_t nLen);

    bool operator==(const XVariant& varSrc) const;
    bool operator!=(const XVariant& varSrc) const { return !(*this == varSrc); }

    float ToFloat() const;
    double ToDouble() const;
    DATE ToDate() const;
    UINT ToInt() const;
    unsigned long long ToInt64() const;
    bool ToBool() const;

    // Returns 0, or 1 for a target it cannot produce (left with a zero payload).
    HRESULT ChangeType(VARTYPE vtNew, const XVariant* pSrc = nullptr);

    // nPointBit: 1..10 decimals, 0 a rounded integer, else the general form.
    // False, with str emptied, for an unsupported type.
    bool ToStringA(CString& str, int nPointBit) const;

    VARTYPE vt;
    union {
        short iVal;
        USHORT uiVal;
        int lVal;
        int intVal;
        UINT ulVal;
        UINT uintVal;
        float fltVal;
        double dblVal;
        DATE date;
        long long llVal;
        bool boolVal;
        signed char cVal;  // VT_I1 is signed, whatever plain char is
        BYTE bVal;
        CString* pStrVal;  // owned; set whenever vt is VT_BSTR
    };

private:
    void SetText(const char* sz, size_t n);
    size_t Decode(const BYTE* p, const BYTE* end, bool bIncludeVT, int depth);
};

// Fills strTime from the template strFormat: $Y $M $D $h $m $s, and the
// padded $2Y $2M ... used only when the short form of that field is absent.
void DateToStr(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
               const CString& strFormat, CString& strTime);

#endif  // QX_NONWIN_XVARIANT_H
