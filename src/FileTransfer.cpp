#include "FileTransfer.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "XFile.h"

namespace {

const int kKeyMax = 63;
const int kValueMax = 255;

bool IsYes(const char* sz) {
    return strncasecmp(sz, "yes", 3) == 0;
}

// Time stamp and size of a file of the folder dirFd, when it exists.
bool StatFile(int dirFd, const std::string& name, uint32_t& t, uint64_t& size) {
    struct stat st;
    if (dirFd < 0 || fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
        return false;
    }
    t = static_cast<uint32_t>(st.st_mtime);
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

void AppendF(std::string& s, const char* fmt, unsigned a, unsigned b) {
    char line[64];
    snprintf(line, sizeof line, fmt, a, b);
    s += line;
}

// Receives the rest of a body no file takes, so that the next reply starts
// where it should. Pacing acknowledgements go out as for a real transfer.
struct SBodyReader {
    CSyncSocket& sock;
    char nCode;
    bool bHello;
    int nWindow;
    int nRecvd;     // R: received since the last acknowledgement
    DWORD nRemain;  // body bytes still to come

    // One receive of at most 2048 bytes of the body; <= 0 when the
    // connection failed or closed.
    int Next(char* buf) {
        if (bHello && nRecvd >= nWindow) {
            char ack[32];
            int n = snprintf(ack, sizeof ack, "%cHello%X", nCode, static_cast<unsigned>(nRecvd));
            sock._Send(ack, n + 1);
            nRecvd = 0;
            if (nWindow > 10240) nWindow -= 10240;
            if (nWindow < 8192) nWindow = 8192;
        }
        DWORD nWant = bHello ? static_cast<DWORD>(nWindow - nRecvd) : kFileRecvLen;
        if (nWant > kFileRecvLen) nWant = kFileRecvLen;
        // Never read past the body: what follows belongs to the next reply.
        if (nWant > nRemain) nWant = nRemain;
        int n = sock._Recv(buf, static_cast<int>(nWant));
        if (n > 0) {
            nRemain -= static_cast<DWORD>(n);
            nRecvd += n;
        }
        return n;
    }
};

}  // namespace

bool ReadHttpCont(const char* szHttpCont, int& nPos, int nLen, char* var, int varMax, char* prop,
                  int propMax) {
    bool cur_is_var = true;
    int nVar = 0, nProp = 0;
    while (nPos < nLen) {
        char c = szHttpCont[nPos++];
        if (c == '\t' || c == '\r' || c == ' ') continue;
        if (c == '\n') {
            if (nVar == 0) return false;
            var[nVar] = 0;
            prop[nProp] = 0;
            return true;
        }
        if (c == ':') {
            cur_is_var = false;
            continue;
        }
        if (cur_is_var) {
            if (nVar >= varMax) return false;
            var[nVar++] = c;
        } else {
            if (nProp >= propMax) return false;
            prop[nProp++] = c;
        }
    }
    return false;
}

int GetFileInfoByBuf(const char* buf, int nLen, SCFileInfo& fi) {
    char var[kKeyMax + 1], prop[kValueMax + 1];
    int nPos = 0;
    for (;;) {
        int nStart = nPos;
        if (!ReadHttpCont(buf, nPos, nLen, var, kKeyMax, prop, kValueMax)) {
            // A line without a key (the blank line) ends the header just
            // past its LF; a header cut off by the end of the bytes runs to
            // their end.
            bool bAtLf = nPos > nStart && buf[nPos - 1] == '\n';
            return bAtLf ? nPos : nLen;
        }
        if (strcasecmp(var, "Size") == 0) {
            fi.dwSize = static_cast<DWORD>(strtoul(prop, nullptr, 16));
        } else if (strcasecmp(var, "UseLast") == 0) {
            fi.bUseLast = IsYes(prop);
        } else if (strcasecmp(var, "Exist") == 0) {
            fi.bExist = IsYes(prop);
        } else if (strcasecmp(var, "GZ") == 0) {
            fi.bGZ = IsYes(prop);
        } else if (strcasecmp(var, "FileTime") == 0) {
            fi.tt = static_cast<time_t>(strtoul(prop, nullptr, 16));
        } else if (strcasecmp(var, "FileName") == 0) {
            fi.strName = prop;
        } else if (strcasecmp(var, "Append") == 0) {
            fi.bAppend = IsYes(prop);
        } else if (strcasecmp(var, "Hello") == 0) {
            fi.bHello = IsYes(prop);
        }
    }
}

int GetFile(const char* szFileName, CSyncSocket& sock, char nCode, const char* szPath,
            unsigned long mtime, unsigned long size, IGetFileCB* pGetFileCB, const char* szAddP2p) {
    XDir dir;
    dir.Open(CT2UTF8(szPath));  // a folder that cannot be opened holds no copy to write
    return GetFile(szFileName, sock, nCode, dir, mtime, size, pGetFileCB, szAddP2p);
}

int GetFile(const char* szFileName, CSyncSocket& sock, char nCode, const XDir& dir,
            unsigned long mtime, unsigned long size, IGetFileCB* pGetFileCB, const char* szAddP2p,
            std::string* pWhy) {
    auto fail = [pWhy](const std::string& why) {
        if (pWhy) *pWhy = why;
        return 0;
    };
    XDir folder;
    const char* leaf = "";
    CT2UTF8 nameUtf8(szFileName);
    const bool bFolder = dir.OpenParentOf(nameUtf8, folder, leaf);
    const int dirFd = bFolder ? folder.Fd() : -1;
    const std::string strLeaf = leaf, strLeafGz = strLeaf + ".gz";

    std::string strSend(1, nCode);
    if (szAddP2p) strSend += szAddP2p;
    strSend += szFileName;
    strSend += "\r\n";
    uint32_t t;
    uint64_t s;
    if (StatFile(dirFd, strLeaf, t, s)) {
        uint32_t d = t - static_cast<uint32_t>(mtime);
        if ((d <= 3 || d >= 0xFFFFFFFDu) && s == static_cast<uint64_t>(size)) return 1;
        AppendF(strSend, "LastTime:%X\r\nSize:%X\r\n", t, static_cast<unsigned>(s));
    }
    if (StatFile(dirFd, strLeafGz, t, s)) {
        AppendF(strSend, "gzTime:%X\r\ngzSize:%X\r\n", t, static_cast<unsigned>(s));
    }
    strSend += "Hello:Yes\r\n\r\n";
    if (sock._Send(strSend.data(), static_cast<int>(strSend.size())) <= 0)
        return fail("the request could not be sent");

    char buf[kFileRecvLen];
    int nLen = sock._Recv(buf, sizeof buf);
    if (nLen <= 0) return fail(nLen == 0 ? "connection closed before the reply" : "no reply");
    SCFileInfo fi;
    int nPos = GetFileInfoByBuf(buf, nLen, fi);

    if (!fi.bExist) {
        if (dirFd >= 0) unlinkat(dirFd, strLeaf.c_str(), 0);
        return 1;
    }
    if (fi.bUseLast) return 1;
    // Larger than any sane project file: refused before anything is
    // written, and the connection is out of step with the body to come.
    if (fi.dwSize > kMaxProjectFileSize) {
        return fail("the server announced " + std::to_string(fi.dwSize) + " bytes, more than " +
                    std::to_string(kMaxProjectFileSize));
    }

    // A first receive may hold more than the announced body; the excess is
    // not part of the file.
    DWORD nFirst = static_cast<DWORD>(nLen - nPos);
    if (nFirst > fi.dwSize) nFirst = fi.dwSize;
    SBodyReader body = {sock,      nCode,
                        fi.bHello, szAddP2p ? kHelloWindowP2p : kHelloWindow,
                        nLen,      fi.dwSize - nFirst};

    XFile file;
    int flags = O_WRONLY | O_CREAT | (fi.bAppend ? 0 : O_TRUNC);
    if (dirFd < 0 || !file.OpenAt(dirFd, fi.bGZ ? strLeafGz.c_str() : strLeaf.c_str(), flags)) {
        while (body.nRemain > 0) {
            if (body.Next(buf) <= 0) return fail("connection closed during the body");
        }
        return 1;
    }
    if (fi.bAppend) file.Seek64(0, SEEK_END);

    bool bOk = file.Write(buf + nPos, nFirst) == static_cast<int>(nFirst);
    bool bClosed = false;
    int nLast = nLen;
    while (bOk && body.nRemain > 0) {
        int n = body.Next(buf);
        if (n <= 0) {
            bOk = false;
            bClosed = true;
            break;
        }
        bOk = file.Write(buf, static_cast<unsigned>(n)) == n;
        nLast = n;
        if (bOk && body.nRemain > 0 && pGetFileCB) pGetFileCB->OnProgress(n, false);
    }

    // The server's stamp goes on a partial file too: the next request then
    // reports it, and the server can send only the missing tail.
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = fi.tt;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    futimens(file.GetHandle(), times);
    file.Close();
    if (!bOk && !bClosed) return fail("the file could not be written");
    if (!bOk) {
        return fail("connection closed after " + std::to_string(fi.dwSize - body.nRemain) + " of " +
                    std::to_string(fi.dwSize) + " bytes");
    }
    if (pGetFileCB) pGetFileCB->OnProgress(nLast, true);
    return 1;
}
