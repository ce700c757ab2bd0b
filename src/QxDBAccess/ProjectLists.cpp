#include "ProjectLists.h"

#include <cstring>
#include <string>

#include "ByteOrder.h"

namespace {

// Reads the open file to its end, or to the first short read. A file larger
// than any sane list is refused unread.
std::string ReadAll(XFile& file) {
    std::string data;
    long long nSize = file.GetFileSize64();
    if (nSize <= 0 || static_cast<unsigned long long>(nSize) > kMaxListFileSize) return data;
    data.resize(static_cast<size_t>(nSize));
    size_t nGot = 0;
    while (nGot < data.size()) {
        int n = file.Read(&data[nGot], static_cast<unsigned>(data.size() - nGot));
        if (n <= 0) break;
        nGot += static_cast<size_t>(n);
    }
    data.resize(nGot);
    return data;
}

void AddLine(const char* p, size_t n, std::vector<CString>& strList) {
    if (n > 0 && p[n - 1] == '\r') n--;
    if (n > kMaxListLine) n = kMaxListLine;
    // A NUL inside a line ends its text there.
    const void* nul = memchr(p, 0, n);
    if (nul) n = static_cast<size_t>(static_cast<const char*>(nul) - p);
    if (n == 0) return;
    CString strUtf8;
    ToUtf8(std::string(p, n).c_str(), strUtf8, n);
    strList.push_back(strUtf8);
}

// Opens szName (core text, relative) of the project folder for reading.
bool OpenInFolder(const XDir& prjDir, const char* szName, XFile& file) {
    XDir folder;
    const char* leaf = nullptr;
    CT2UTF8 nameUtf8(szName);
    return prjDir.OpenParentOf(nameUtf8, folder, leaf) && file.OpenAt(folder.Fd(), leaf, O_RDONLY);
}

}  // namespace

void ParseDrvInfo(const BYTE* p, size_t n, std::map<CString, SNDrvInfoEx>& mapDrvInfos) {
    if (n <= 4) return;
    size_t nPos = 0;
    while (nPos < n) {
        const void* nul = memchr(p + nPos, 0, n - nPos);
        if (nul == nullptr) return;  // a name without its NUL ends the data
        size_t nEnd = static_cast<size_t>(static_cast<const BYTE*>(nul) - p);
        CString strDrv(std::string(reinterpret_cast<const char*>(p + nPos), nEnd - nPos));
        nPos = nEnd + 1;
        if (n - nPos < 4) return;
        SNDrvInfoEx di;
        di.id = GetLE16(p + nPos);
        di.tagNum = GetLE16(p + nPos + 2);
        mapDrvInfos[strDrv] = di;
        nPos += 4;
    }
}

void ParseStringList(const BYTE* p, size_t n, std::vector<CString>& strList) {
    const char* c = reinterpret_cast<const char*>(p);
    size_t nStart = 0;
    for (size_t i = 0; i < n; i++) {
        if (c[i] == '\n') {
            AddLine(c + nStart, i - nStart, strList);
            nStart = i + 1;
        }
    }
    if (nStart < n) AddLine(c + nStart, n - nStart, strList);
}

void LoadPrjDrvInfo(const CString& strPrjPath, std::map<CString, SNDrvInfoEx>& mapDrvInfos) {
    XFile file;
    if (!file.OpenT(strPrjPath + "RecData/drvinfo.dat", O_RDONLY)) return;
    std::string data = ReadAll(file);
    ParseDrvInfo(reinterpret_cast<const BYTE*>(data.data()), data.size(), mapDrvInfos);
}

void InitStringList(const char* szStrListPath, std::vector<CString>& strList) {
    if (!strList.empty()) return;
    XFile file;
    if (!file.OpenT(szStrListPath, O_RDONLY)) return;
    std::string data = ReadAll(file);
    ParseStringList(reinterpret_cast<const BYTE*>(data.data()), data.size(), strList);
}

void LoadPrjDrvInfo(const XDir& prjDir, std::map<CString, SNDrvInfoEx>& mapDrvInfos) {
    XFile file;
    if (!OpenInFolder(prjDir, "RecData/drvinfo.dat", file)) return;
    std::string data = ReadAll(file);
    ParseDrvInfo(reinterpret_cast<const BYTE*>(data.data()), data.size(), mapDrvInfos);
}

void InitStringList(const XDir& prjDir, const char* szName, std::vector<CString>& strList) {
    if (!strList.empty()) return;
    XFile file;
    if (!OpenInFolder(prjDir, szName, file)) return;
    std::string data = ReadAll(file);
    ParseStringList(reinterpret_cast<const BYTE*>(data.data()), data.size(), strList);
}
