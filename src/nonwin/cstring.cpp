#include "cstring.h"

#include <cctype>
#include <cstring>

namespace {

size_t ClampPos(int n, size_t len) {
    if (n < 0) return 0;
    return static_cast<size_t>(n) > len ? len : static_cast<size_t>(n);
}

int ToPos(size_t pos) {
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

}  // namespace

CString CString::Left(int nCount) const {
    return CString(substr(0, ClampPos(nCount, size())));
}

CString CString::Mid(int nFirst) const {
    return CString(substr(static_cast<size_t>(nFirst)));
}

CString CString::Mid(int nFirst, int nCount) const {
    return CString(substr(static_cast<size_t>(nFirst), ClampPos(nCount, size())));
}

CString CString::Right(int nCount) const {
    size_t n = ClampPos(nCount, size());
    return CString(substr(size() - n));
}

int CString::Find(char ch, int nStart) const {
    return ToPos(find(ch, ClampPos(nStart, size())));
}

int CString::Find(LPCTSTR pszSub, int nStart) const {
    if (pszSub == nullptr) return -1;
    return ToPos(find(pszSub, ClampPos(nStart, size())));
}

int CString::ReverseFind(char ch) const {
    return ToPos(rfind(ch));
}

CString& CString::TrimLeft(char chTarget) {
    size_t n = 0;
    while (n < size() && (*this)[n] == chTarget)
        n++;
    erase(0, n);
    return *this;
}

CString& CString::TrimRight(char chTarget) {
    size_t n = size();
    while (n > 0 && (*this)[n - 1] == chTarget)
        n--;
    erase(n);
    return *this;
}

CString& CString::Trim(char chTarget) {
    TrimRight(chTarget);
    return TrimLeft(chTarget);
}

CString& CString::TrimLeft(LPCTSTR pszTargets) {
    if (pszTargets == nullptr || *pszTargets == '\0') return *this;
    size_t first = find_first_not_of(pszTargets);
    erase(0, first == npos ? size() : first);
    return *this;
}

CString& CString::TrimRight(LPCTSTR pszTargets) {
    if (pszTargets == nullptr || *pszTargets == '\0') return *this;
    size_t last = find_last_not_of(pszTargets);
    erase(last == npos ? 0 : last + 1);
    return *this;
}

CString& CString::Trim(LPCTSTR pszTargets) {
    TrimRight(pszTargets);
    return TrimLeft(pszTargets);
}

int CString::Remove(char chRemove) {
    int nHit = 0;
    for (size_t i = size(); i-- > 0;) {
        if ((*this)[i] == chRemove) {
            erase(i, 1);
            nHit++;
        }
    }
    return nHit;
}

int CString::Replace(LPCTSTR pszOld, LPCTSTR pszNew) {
    // An empty search text would match everywhere without advancing.
    if (pszOld == nullptr || *pszOld == '\0') return 0;
    if (pszNew == nullptr) pszNew = "";
    const size_t nOld = strlen(pszOld);
    const size_t nNew = strlen(pszNew);
    int nHit = 0;
    size_t pos = find(pszOld, 0, nOld);
    while (pos != npos) {
        replace(pos, nOld, pszNew, nNew);
        nHit++;
        pos = find(pszOld, pos + nNew, nOld);
    }
    return nHit;
}

int CString::Replace(char chOld, char chNew) {
    int nHit = 0;
    for (char& c : *this) {
        if (c == chOld) {
            c = chNew;
            nHit++;
        }
    }
    return nHit;
}

int CString::Insert(int nIndex, char ch) {
    insert(ClampPos(nIndex, size()), 1, ch);
    return GetLength();
}

int CString::Insert(int nIndex, LPCTSTR psz) {
    if (psz != nullptr) insert(ClampPos(nIndex, size()), psz);
    return GetLength();
}

CString CString::Tokenize(LPCTSTR pszTokens, int& iStart) const {
    if (iStart < 0) return CString();
    const size_t len = size();
    if (pszTokens == nullptr || *pszTokens == '\0') {
        if (static_cast<size_t>(iStart) >= len) iStart = -1;
        return CString();
    }
    size_t from = static_cast<size_t>(iStart);
    if (from < len) from = find_first_not_of(pszTokens, from);
    if (from == npos || from >= len) {
        iStart = -1;
        return CString();
    }
    size_t end = find_first_of(pszTokens, from);
    if (end == npos) end = len;
    iStart = static_cast<int>(end + 1);
    return CString(substr(from, end - from));
}

char CString::GetAt(int i) const {
    if (i < 0 || static_cast<size_t>(i) >= size()) return 0;
    return (*this)[static_cast<size_t>(i)];
}

void CString::SetAt(int i, char ch) {
    if (i >= 0 && static_cast<size_t>(i) < size()) (*this)[static_cast<size_t>(i)] = ch;
}

void CString::Truncate(int nNewLength) {
    if (nNewLength >= 0 && static_cast<size_t>(nNewLength) < size()) resize(nNewLength);
}

CString& CString::MakeLower() {
    for (char& c : *this)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return *this;
}

CString& CString::MakeUpper() {
    for (char& c : *this)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return *this;
}

int CString::CompareNoCase(LPCTSTR psz) const {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(psz ? psz : "");
    for (;; a++, b++) {
        int ca = tolower(*a), cb = tolower(*b);
        if (ca != cb || ca == 0) return ca - cb;
    }
}

char* _strlwr(char* str) {
    for (char* p = str; p && *p; p++) {
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    }
    return str;
}
