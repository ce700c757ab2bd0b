// The project lists read from the cache folder: the driver list
// "RecData/drvinfo.dat" and the text lists "RecData/textlist" and
// "RecData/taglist".
//
// drvinfo.dat is a run of records: the driver name (GB2312) and its NUL,
// then id and tag count, 16-bit little-endian each. A text list holds one
// GB2312 entry a line; empty lines take no index.
#ifndef QX_PROJECTLISTS_H
#define QX_PROJECTLISTS_H

#include <cstddef>
#include <map>
#include <vector>

#include "DBDriver.h"
#include "XDir.h"
#include "XFile.h"
#include "cstring.h"

const size_t kMaxListLine = 255;
// A list file larger than this is refused unread (64 MiB).
const size_t kMaxListFileSize = 64u << 20;

// Adds the records at p[0, n) to map; a later record of a name wins. A
// record cut off by the end of the bytes ends the parse.
void ParseDrvInfo(const BYTE* p, size_t n, std::map<CString, SNDrvInfoEx>& mapDrvInfos);
// Appends the entries of the list text at p[0, n), each converted to UTF-8.
// A line longer than kMaxListLine bytes keeps its first kMaxListLine bytes,
// so that the entries after it keep their indexes.
void ParseStringList(const BYTE* p, size_t n, std::vector<CString>& strList);

// Reads strPrjPath + "RecData/drvinfo.dat" into mapDrvInfos; a missing or
// short file changes nothing.
void LoadPrjDrvInfo(const CString& strPrjPath, std::map<CString, SNDrvInfoEx>& mapDrvInfos);
// Reads the list file at szStrListPath (core text) when strList is empty.
void InitStringList(const char* szStrListPath, std::vector<CString>& strList);
// The same through the project folder: RecData/drvinfo.dat, or the list
// file szName (core text, relative), reached without following a link.
void LoadPrjDrvInfo(const XDir& prjDir, std::map<CString, SNDrvInfoEx>& mapDrvInfos);
void InitStringList(const XDir& prjDir, const char* szName, std::vector<CString>& strList);

#endif  // QX_PROJECTLISTS_H
