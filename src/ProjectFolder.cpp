// CClientSock::AfterConnect and GetPrjPath: the project folder of a
// connection, a cache tree under /tmp/qxbrowser/ for a remote server.
#include "ProjectFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

bool OpenCacheRoot(const char* szPrimary, const char* szXdgCache, const char* szHome, XDir& root,
                   std::string& path, std::string* pWhy) {
    if (szPrimary && root.MakeOwnRoot(szPrimary)) {
        path = szPrimary;
    } else {
        std::string why = std::string("cache folder ") + (szPrimary ? szPrimary : "") + " " +
                          (szPrimary ? root.Why() : "is not set");
        std::string base;
        if (szXdgCache && szXdgCache[0] == '/') {
            base = szXdgCache;
        } else if (szHome && szHome[0] == '/') {
            base = std::string(szHome) + "/.cache";
            mkdir(base.c_str(), 0700);
        } else {
            if (pWhy) *pWhy = why + ", and neither $XDG_CACHE_HOME nor $HOME is set";
            return false;
        }
        XDir cache;
        if (!cache.Open(base.c_str())) {
            if (pWhy) *pWhy = why + ", and " + base + " cannot be opened";
            return false;
        }
        if (!root.MakeOwn(cache, "qxbrowser", false)) {
            if (pWhy) *pWhy = why + ", and " + base + "/qxbrowser " + root.Why();
            return false;
        }
        path = base + "/qxbrowser";
    }
    if (path.empty() || path.back() != '/') path += '/';
    return true;
}

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
    // Every folder is opened through the one above it and checked, and kept
    // open: files are reached through it, so no path is resolved twice.
    XDir root, host, prj;
    std::string strRoot, why;
    if (!OpenCacheRoot(kCacheRoot, getenv("XDG_CACHE_HOME"), getenv("HOME"), root, strRoot, &why)) {
        strErr = why.c_str();
        return false;
    }
    // A folder that fails names itself in the reason.
    std::string path = strRoot;
    auto own = [&](XDir& dir, const XDir& parent, const std::string& name, bool bChmod) {
        path += name + "/";
        if (dir.MakeOwn(parent, name.c_str(), bChmod)) return true;
        path.pop_back();
        strErr = ("cache folder " + path + " " + dir.Why()).c_str();
        return false;
    };
    // An empty host (a local server's address) puts the project under the root.
    bool bOk = strHost.IsEmpty() ? (host = root).IsOpen()
                                 : own(host, root, std::string(CT2UTF8(strHost)), true);
    bOk = bOk && own(prj, host, std::string(CT2UTF8(strName)), true);
    const std::string prjPath = path;
    for (const char* szSub : kSubFolders) {
        if (!bOk) break;
        // "RecData/Event/" is made inside RecData.
        std::string sub(szSub, strlen(szSub) - 1);
        size_t slash = sub.find('/');
        XDir parent, dir;
        path = prjPath;
        if (slash == std::string::npos) {
            bOk = own(dir, prj, sub, false);
        } else {
            bOk = own(parent, prj, sub.substr(0, slash), false) &&
                  own(dir, parent, sub.substr(slash + 1), true);
        }
    }
    if (!bOk) return false;
    CString strPrjPath = CString(strRoot.c_str()) + strHost + "/" + strName + "/";
    m_strPrjPath = strPrjPath;
    m_prjDir = prj;
    return true;
}
