// The file transfer exchange on the request connection. The request is the
// code byte, the file name and header lines saying what the client holds;
// the reply is header lines, a blank line and the file's bytes, optionally
// paced by acknowledgements from the client.
#ifndef QX_FILETRANSFER_H
#define QX_FILETRANSFER_H

#include <string>

#include <ctime>

#include "FileInfo.h"
#include "SyncSocket.h"
#include "XDir.h"
#include "cstring.h"

// The parsed reply header.
struct SCFileInfo {
    bool bUseLast = false;  // the client's copy is current
    bool bExist = true;     // the file exists on the server
    bool bGZ = false;       // store the body under the name + ".gz"
    bool bAppend = false;   // the body continues the client's copy
    bool bHello = false;    // acknowledge what arrives
    time_t tt = 0;          // the server's time stamp of the file
    DWORD dwSize = 0;       // body bytes after the header
    std::string strName;    // reported by the server; not used
};

class IGetFileCB {
public:
    virtual ~IGetFileCB() {}
    virtual void OnProgress(int nBytes, bool bDone) = 0;
};

const int kFileRecvLen = 2048;
const int kHelloWindow = 0x20000;
const int kHelloWindowP2p = 0x9800;
// The largest file a server may make the client store: 64 MiB.
const DWORD kMaxProjectFileSize = 64u << 20;

// Reads one "key: value" line at szHttpCont[nPos, nLen); blanks, tabs, CRs
// and every ':' are dropped. True when a line with a non-empty key ended in
// LF; nPos is then past it.
bool ReadHttpCont(const char* szHttpCont, int& nPos, int nLen, char* var, int varMax, char* prop,
                  int propMax);
// Parses the header at buf[0, nLen) into fi; returns the offset of the first
// body byte (nLen when no blank line ends the header).
int GetFileInfoByBuf(const char* buf, int nLen, SCFileInfo& fi);

// Brings szPath + szFileName up to date from the server: 1 when done
// (nothing to transfer included), 0 when the exchange failed.
// A body that announces more than kMaxProjectFileSize gives 0 unwritten.
int GetFile(const char* szFileName, CSyncSocket& sock, char nCode, const char* szPath,
            unsigned long mtime, unsigned long size, IGetFileCB* pGetFileCB, const char* szAddP2p);
// The same into the open folder dir: the file and the folders of its name
// are reached through it, never through a link. On failure pWhy, when
// given, gets the reason ("connection closed after 120 of 4096 bytes").
int GetFile(const char* szFileName, CSyncSocket& sock, char nCode, const XDir& dir,
            unsigned long mtime, unsigned long size, IGetFileCB* pGetFileCB, const char* szAddP2p,
            std::string* pWhy = nullptr);

#endif  // QX_FILETRANSFER_H
