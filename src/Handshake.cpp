#include "Handshake.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "ByteOrder.h"
#include "PacketCrypt.h"

namespace {

// Plain payloads: 16 + 6 + 249 + 1 bytes at most.
const int kPlainLen = 272;

// The NUL-terminated text at p[0, n), cut at n when the NUL is missing.
CString TextAt(const BYTE* p, int n) {
    const void* nul = memchr(p, 0, static_cast<size_t>(n));
    size_t len = nul ? static_cast<size_t>(static_cast<const BYTE*>(nul) - p) : n;
    return CString(std::string(reinterpret_cast<const char*>(p), len));
}

}  // namespace

int BuildFirstPacket(const BYTE id[16], bool bExtended, const BYTE mac[6], const char* szText,
                     BYTE out[kHandshakeBufLen]) {
    BYTE plain[kPlainLen];
    int n = 16;
    memcpy(plain, id, 16);
    if (bExtended) {
        size_t len = strlen(szText);
        if (len > 249) return 0;
        memcpy(plain + 16, mac, 6);
        memcpy(plain + 22, szText, len + 1);
        n = 23 + static_cast<int>(len);
    }
    out[0] = '7';
    int m = EncryptPacket(n, plain, kHandshakeBufLen - 1, out + 1);
    return m > 0 ? m + 1 : 0;
}

int BuildSecondPacket(const BYTE id[16], const char* szHostName, bool bAccessDB,
                      BYTE out[kHandshakeBufLen]) {
    BYTE plain[kPlainLen];
    size_t len = strnlen(szHostName, kMaxHostName);
    memcpy(plain, id, 16);
    memcpy(plain + 16, szHostName, len);
    plain[16 + len] = 0;
    plain[17 + len] = bAccessDB ? 1 : 0;
    plain[18 + len] = 0x01;
    out[0] = '8';
    int m = EncryptPacket(19 + static_cast<int>(len), plain, kHandshakeBufLen - 1, out + 1);
    return m > 0 ? m + 1 : 0;
}

EFirstReply ParseFirstReply(const BYTE* p, int n, bool bRelayPort, CString& strLan) {
    if (n < 1) return kFirstBad;
    if (p[0] == '0') return kFirstRefuse;
    if (p[0] != '7') return kFirstBad;
    if (bRelayPort && n >= 10 && strncasecmp(reinterpret_cast<const char*>(p + 1), "lan", 3) == 0) {
        in_addr ip;
        memcpy(&ip.s_addr, p + 4, 4);  // already in network order
        char szIp[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &ip, szIp, sizeof szIp);
        char sz[64];
        snprintf(sz, sizeof sz, "%s:%d", szIp, GetBE16(p + 8));
        strLan = sz;
        return kFirstRedirect;
    }
    return kFirstAccept;
}

int ParseSecondReply(const BYTE* p, int n, SNAckRegReq& ack, CString& strPrjName,
                     CString& strTitle) {
    BYTE plain[kHandshakeBufLen];
    if (n < 0 || n > kHandshakeBufLen) return kConnectFailed;
    int m = DecryptPacket(n, p, kHandshakeBufLen, plain);
    if (m == 1 && plain[0] == '0') return kConnectRefused;
    if (m < 60 || plain[0] != '8') return kConnectFailed;
    memcpy(&ack, plain + 1, sizeof ack);
    strPrjName = TextAt(plain + 59, m - 59);
    int nAfter = 59 + strPrjName.GetLength() + 1;
    strTitle = nAfter < m ? TextAt(plain + nAfter, m - nAfter) : CString();
    return 0;
}
