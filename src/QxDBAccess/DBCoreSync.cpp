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
    const bool bKnown = it != mapFileInfos.end();
    if (bKnown || IsServerFolder(strFileName)) {
        std::string why;
        int ret =
            GetFile(szFileName, m_reqSock, '4', m_prjDir, bKnown ? it->second.time : 0xFFFFFFFF,
                    bKnown ? it->second.size : 0xFFFFFFFF, nullptr, nullptr, &why);
        if (ret == 0) {
            const bool bDrivers = strFileName == "recdata/drvinfo.dat";
            SetLastError("%s transfer failed: %s", bDrivers ? "driver list" : szFileName,
                         why.c_str());
        }
        return ret;
    }
    XDir folder;
    const char* leaf = nullptr;
    CT2UTF8 nameUtf8(szFileName);
    if (m_prjDir.OpenParentOf(nameUtf8, folder, leaf)) unlinkat(folder.Fd(), leaf, 0);
    return 1;
}
