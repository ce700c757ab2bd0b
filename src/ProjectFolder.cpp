// CClientSock::AfterConnect and GetPrjPath: the project folder of a
// connection, a cache tree under /tmp/qxbrowser/ for a remote server.
#include "ProjectFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ClientSock.h"

const char kCacheRoot[] = "/tmp/qxbrowser/";

namespace {

const int kPrjPathReplyLen = 2048;

const char* const kSubFolders[] = {
    "Window/", "3DWnd/",  "Report/",  "CtmGph/",  "ScnDrv/",        "DBDrv/",
    "Media/",  "SysCfg/", "RecData/", "ExtData/", "RecData/Event/", "RecData/Alarm2/",
};

// Creates a folder (an existing one is the normal case) and checks that it
// is a real folder of this user: /tmp is shared, and another user could
// plant a link or a folder of theirs under a name we use.
bool MakeOwnFolder(const char* szUtf8, bool bChmod) {
    // A trailing '/' would make lstat follow a link.
    std::string path(szUtf8);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        return false;
    }
    if (bChmod) chmod(path.c_str(), 0700);
    return true;
}

CString TextAt(const BYTE* p, int n, int& nPos, bool& bOk) {
    const void* nul = nPos < n ? memchr(p + nPos, 0, static_cast<size_t>(n - nPos)) : nullptr;
    if (nul == nullptr) {
        bOk = false;
        return CString();
    }
    int nEnd = static_cast<int>(static_cast<const BYTE*>(nul) - p);
    CString s(std::string(reinterpret_cast<const char*>(p + nPos), nEnd - nPos));
    nPos = nEnd + 1;
    return s;
}

}  // namespace

bool MakeFolderName(const CString& strText, bool bAllowEmpty, CString& strName) {
    strName = strText;
    strName.Replace(':', '_');
    strName.Replace('/', '_');
    if (strName.IsEmpty()) return bAllowEmpty;
    if (strName == "." || strName == "..") return false;
    // A cut conversion would name another folder than the path built from
    // the unconverted text.
    CString strUtf8, strBack;
    strName.ToUtf8(strUtf8);
    strBack.FromUtf8(strUtf8, strUtf8.size());
    return strBack == strName;
}

bool ParsePrjPathReply(const BYTE* p, int n, CString& strPrjPath, CString& strEventPath,
                       CString& strAlarmPath, CString& strHistPath) {
    if (n < 1 || p[0] != '3') return false;
    int nPos = 1;
    bool bOk = true;
    CString s1 = TextAt(p, n, nPos, bOk), s2 = TextAt(p, n, nPos, bOk);
    CString s3 = TextAt(p, n, nPos, bOk), s4 = TextAt(p, n, nPos, bOk);
    if (!bOk) return false;
    strPrjPath = s1;
    strEventPath = s2;
    strAlarmPath = s3;
    strHistPath = s4;
    return true;
}

bool CClientSock::GetPrjPath(CString& strPrjPath, CString& strEventPath, CString& strAlarmPath,
                             CString& strHistPath) {
    if (m_reqSock._Send("3", 1) < 1) return false;
    BYTE szReply[kPrjPathReplyLen];
    int n = m_reqSock._Recv(szReply, sizeof szReply);
    return ParsePrjPathReply(szReply, n, strPrjPath, strEventPath, strAlarmPath, strHistPath);
}

bool CClientSock::AfterConnect(LPCTSTR szHost, const CString& strPrjName, CString& strErr) {
    if (m_bLocalDB) {
        if (GetPrjPath(m_strPrjPath, m_strEventPath, m_strAlarmPath, m_strHistPath)) return true;
        strErr = "\xCE\xDE\xB7\xA8\xBB\xF1\xC8\xA1\xB9\xA4\xB3\xCC\xC2\xB7\xBE\xB6";
        return false;
    }
    CString strHost, strName;
    if (!MakeFolderName(CString(szHost ? szHost : ""), true, strHost) ||
        !MakeFolderName(strPrjName, false, strName)) {
        strErr = "bad folder name";
        return false;
    }
    CString strPrjPath = CString(kCacheRoot);
    bool bOk = MakeOwnFolder(kCacheRoot, false);
    strPrjPath += strHost;
    bOk = bOk && MakeOwnFolder(CT2UTF8(strPrjPath), true);
    strPrjPath += "/";
    CString strPathUtf8 = CT2UTF8(strPrjPath + strName);
    bOk = bOk && MakeOwnFolder(strPathUtf8, true);
    strPathUtf8 += "/";
    strPrjPath += strName + "/";
    for (const char* szSub : kSubFolders) {
        bool bChmod = strncmp(szSub, "RecData/", 8) == 0 && szSub[8] != '\0';
        bOk = bOk && MakeOwnFolder((strPathUtf8 + szSub).c_str(), bChmod);
    }
    if (!bOk) {
        strErr = "the cache folder is not this user's own";
        return false;
    }
    m_strPrjPath = strPrjPath;
    return true;
}
