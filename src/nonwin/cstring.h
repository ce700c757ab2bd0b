// CString: the core's text type on non-Windows builds. A byte string holding
// GB2312 text, with the MFC-style helpers the core uses. Script text and file
// names are UTF-8 and cross into and out of it through the converters below.
#ifndef QX_NONWIN_CSTRING_H
#define QX_NONWIN_CSTRING_H

#include <cstddef>
#include <string>

#include "wintypes.h"

class XVariant;

class CString : public std::string {
public:
    CString() {}
    CString(LPCTSTR sz) : std::string(sz) {}
    CString(const std::string& str) : std::string(str) {}
    CString(char ch, size_t nRepeat) : std::string(nRepeat, ch) {}
    CString(const unsigned short* szUtf16, size_t len) { FromUtf16(szUtf16, len); }
    CString(const XVariant& var);  // the value's text form

    operator LPCTSTR() const { return c_str(); }

    bool IsEmpty() const { return empty(); }
    void Empty() { clear(); }
    int GetLength() const { return static_cast<int>(size()); }

    // Left, Right and the two-argument Mid clamp to the string. The one- and
    // two-argument Mid throw std::out_of_range when nFirst is past the end.
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;

    int Find(char ch, int nStart = 0) const;
    int Find(LPCTSTR pszSub, int nStart = 0) const;
    int ReverseFind(char ch) const;

    CString& TrimLeft(char chTarget);
    CString& TrimRight(char chTarget);
    CString& Trim(char chTarget);
    CString& TrimLeft(LPCTSTR pszTargets);
    CString& TrimRight(LPCTSTR pszTargets);
    CString& Trim(LPCTSTR pszTargets);

    int Remove(char chRemove);
    // An empty or null pszOld replaces nothing and returns 0.
    int Replace(LPCTSTR pszOld, LPCTSTR pszNew);
    int Replace(char chOld, char chNew);
    // Positions are clamped to [0, length]; both return the new length.
    int Insert(int nIndex, char ch);
    int Insert(int nIndex, LPCTSTR psz);

    // Next token at or after iStart; iStart becomes -1 when none is left.
    CString Tokenize(LPCTSTR pszTokens, int& iStart) const;

    void AppendChar(char ch) { push_back(ch); }
    void Append(LPCTSTR psz) { append(psz); }
    void Append(LPCTSTR psz, int nLength) { append(psz, nLength > 0 ? nLength : 0); }

    // Out of range: GetAt gives 0 and SetAt changes nothing.
    char GetAt(int i) const;
    void SetAt(int i, char ch);
    void Truncate(int nNewLength);

    CString& MakeLower();
    CString& MakeUpper();
    int CompareNoCase(LPCTSTR psz) const;

    // Code-page conversions. On failure the output holds what converted
    // before the failing character and a perror line goes to stderr.
    void ToUtf8(CString& strUtf8) const;
    void FromUtf8(const char* szUtf8, size_t len);
    // Converts up to the first NUL. Returns a new[] array with room for
    // outLen + 1 units (the last one unset), or null on failure.
    unsigned short* ToUtf16(size_t& outLen) const;
    void FromUtf16(const unsigned short* szUtf16, size_t len);
};

// Concatenations stay CStrings (the base string's would give std::string).
inline CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r.append(b.data(), b.size());
    return r;
}
inline CString operator+(const CString& a, const char* b) {
    CString r(a);
    r.append(b);
    return r;
}
inline CString operator+(const char* a, const CString& b) {
    CString r(a);
    r.append(b.data(), b.size());
    return r;
}
inline CString operator+(const CString& a, char b) {
    CString r(a);
    r.push_back(b);
    return r;
}

// UTF-8 form of inlen bytes of core text; inlen 0 means up to the first NUL.
void ToUtf8(const char* szInBuf, CString& strUtf8, size_t inlen);
// UTF-16 form of core text; inlen 0 means up to the first NUL. The caller
// frees the result with delete[].
unsigned short* ToUtf16(const char* szInBuf, size_t& outLen, size_t inlen);
// ASCII letters to lower case in place; GB2312 lead and trail bytes are kept.
char* _strlwr(char* str);

// Core text leaving for a script or the file system.
class CT2UTF8 : public CString {
public:
    explicit CT2UTF8(const char* szT) { ::ToUtf8(szT, *this, 0); }
    explicit CT2UTF8(const std::string& strT) { ::ToUtf8(strT.c_str(), *this, 0); }
};

// A script's UTF-8 argument entering the core.
class CUTF82T : public CString {
public:
    explicit CUTF82T(const char* szUtf8);
};

#endif  // QX_NONWIN_CSTRING_H
