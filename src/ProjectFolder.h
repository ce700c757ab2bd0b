// The project cache folders of a connection: pure helpers for their names
// and for the server's project-path reply.
#ifndef QX_PROJECTFOLDER_H
#define QX_PROJECTFOLDER_H

#include <string>

#include "XDir.h"
#include "cstring.h"
#include "wintypes.h"

extern const char kCacheRoot[];  // "/tmp/qxbrowser/"

// Opens the cache root: szPrimary when it is (or can be made) a folder of
// this user's that no one else can write; otherwise "qxbrowser" in the
// user's own cache folder (szXdgCache, else szHome + "/.cache"), which no
// other user can create or swap. path gets the root's path with a final '/'.
// On failure pWhy, when given, gets the reason ("cache folder ... is
// writable by others").
bool OpenCacheRoot(const char* szPrimary, const char* szXdgCache, const char* szHome, XDir& root,
                   std::string& path, std::string* pWhy = nullptr);

// A folder name made from a server's text: every ':' and '/' becomes '_',
// so that it names one folder below its parent. False for a name that would
// still leave it ("." or "..") or that does not convert to UTF-8 whole.
// bAllowEmpty admits the empty name (the address of a local server).
bool MakeFolderName(const CString& strText, bool bAllowEmpty, CString& strName);

// Reads a '3' reply: the code byte, then four NUL-terminated paths. False
// when the code is wrong or a path is not terminated within the n bytes.
bool ParsePrjPathReply(const BYTE* p, int n, CString& strPrjPath, CString& strEventPath,
                       CString& strAlarmPath, CString& strHistPath);

#endif  // QX_PROJECTFOLDER_H
