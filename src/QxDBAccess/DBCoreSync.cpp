// CDBCore::GetPrjFile: which project files to fetch after connecting, and
// with which expectation.
#include <fcntl.h>
#include <unistd.h>

#include "DBCore.h"
#include "FileTransfer.h"

namespace {

// Folders whose files the server always decides about.
bool IsServerFolder(const CString& strLower) {
    return strLower.Find("media/") == 0 || strLower.Find("recdata/") == 0 ||
           strLower.Find("syscfg/") == 0;
}

}  // namespace

int CDBCore::GetPrjFile(LPCTSTR szFileName, CFileInfoMap& mapFileInfos) {
    if (m_bLocalDB) return 1;
    CString strFileName(szFileName);
    strFileName.MakeLower();
    auto it = mapFileInfos.find(strFileName);
    if (it != mapFileInfos.end()) {
        return GetFile(szFileName, m_reqSock, '4', m_prjDir, it->second.time, it->second.size,
                       nullptr, nullptr);
    }
    if (IsServerFolder(strFileName)) {
        return GetFile(szFileName, m_reqSock, '4', m_prjDir, 0xFFFFFFFF, 0xFFFFFFFF, nullptr,
                       nullptr);
    }
    XDir folder;
    const char* leaf = nullptr;
    CT2UTF8 nameUtf8(szFileName);
    if (m_prjDir.OpenParentOf(nameUtf8, folder, leaf)) unlinkat(folder.Fd(), leaf, 0);
    return 1;
}
