#include "HostText.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstring>

#ifndef QX_P2P_CENTRE_IP
#define QX_P2P_CENTRE_IP "192.0.2.1"
#endif

namespace {

// Decimal digits taken modulo 65536; 0 or no digits give the default port.
UINT ParsePort(const char* sz) {
    UINT n = 0;
    bool bDigits = false;
    for (; *sz >= '0' && *sz <= '9'; sz++) {
        n = (n * 10 + static_cast<UINT>(*sz - '0')) % 65536;
        bDigits = true;
    }
    return (bDigits && n != 0) ? n : kDefaultPort;
}

}  // namespace

HRESULT ParseHostText(LPCTSTR szHost, SHostAddr& addr) {
    addr = SHostAddr();
    CString strHost(szHost ? szHost : "");
    if (strncasecmp(strHost, "p2p", 3) == 0) {
        addr.bCentre = true;
        addr.nPort = kCentrePort;
        int nColon = strHost.Find(':');
        if (nColon < 0) return E_INVALIDARG;
        CString strCentre = strHost.Left(nColon);
        addr.strTarget = strHost.Mid(nColon + 1);
        if (addr.strTarget.GetLength() > kMaxHostText) return E_FAIL;
        int nParen = strCentre.Find('(');
        CString strIp = nParen < 0 ? CString(QX_P2P_CENTRE_IP) : strCentre.Mid(nParen + 1);
        strIp.TrimRight(')');
        in_addr ip;
        if (inet_pton(AF_INET, strIp, &ip) != 1 || ip.s_addr == 0) return E_INVALIDARG;
        addr.nCentreIp = ip.s_addr;
        return 0;
    }
    int nColon = strHost.ReverseFind(':');
    if (nColon > 0) {
        addr.nPort = ParsePort(strHost.c_str() + nColon + 1);
        addr.strHost = strHost.Left(nColon);
    } else {
        addr.strHost = strHost;
    }
    if (addr.strHost.GetLength() > kMaxHostText) return E_FAIL;
    return 0;
}
