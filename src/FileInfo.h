// A server file's time stamp and size, as the server reports them.
#ifndef QX_FILEINFO_H
#define QX_FILEINFO_H

#include <cstdint>
#include <map>

#include "cstring.h"

struct SNFileInfo {
    uint32_t time = 0;
    uint32_t size = 0;
};

// Keyed by the file's project-relative path in lower case.
typedef std::map<CString, SNFileInfo> CFileInfoMap;

#endif  // QX_FILEINFO_H
