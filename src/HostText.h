// Parsing of the host text given to Connect. Two forms:
//   direct   "host", "host:port"               (port 80 by default)
//   centre   "p2p:target", "p2p(a.b.c.d):target" (relay on port 3968)
#ifndef QX_HOSTTEXT_H
#define QX_HOSTTEXT_H

#include "cstring.h"
#include "wintypes.h"

const UINT kDefaultPort = 80;
const UINT kCentrePort = 3968;
// The longest host or target text the first handshake packet carries.
const int kMaxHostText = 249;

struct SHostAddr {
    bool bCentre = false;
    CString strHost;    // direct form: the host to connect to
    CString strTarget;  // centre form: the target the relay connects to
    UINT nPort = kDefaultPort;
    ULONG nCentreIp = 0;  // centre form: relay address, network order
};

// Returns 0, E_INVALIDARG (centre form without ':' or with an unreadable
// relay address) or E_FAIL (a text longer than the packet can carry).
HRESULT ParseHostText(LPCTSTR szHost, SHostAddr& addr);

#endif  // QX_HOSTTEXT_H
