// The handshake packets and replies as pure functions over bytes: building
// the two packets the client sends and reading the two replies it receives.
#ifndef QX_HANDSHAKE_H
#define QX_HANDSHAKE_H

#include "ClientSock.h"

const int kHandshakeBufLen = 512;
const int kMaxHostName = 235;

// First packet: '7' and the scrambled identifier; with bExtended (relay
// port) also the gateway address and text with its NUL. REQUIRES: text is
// at most kMaxHostText bytes. Returns the packet length, 0 if it cannot.
int BuildFirstPacket(const BYTE id[16], bool bExtended, const BYTE mac[6], const char* szText,
                     BYTE out[kHandshakeBufLen]);
// Second packet: '8' and the scrambled identifier, host name (cut to
// kMaxHostName), bAccessDB and 0x01.
int BuildSecondPacket(const BYTE id[16], const char* szHostName, bool bAccessDB,
                      BYTE out[kHandshakeBufLen]);

enum EFirstReply { kFirstAccept, kFirstRefuse, kFirstRedirect, kFirstBad };
// A redirect is read only when bRelayPort; it gives the LAN address as
// "a.b.c.d:port" in strLan.
EFirstReply ParseFirstReply(const BYTE* p, int n, bool bRelayPort, CString& strLan);

// Reads the scrambled second reply: 0 with the outputs set, kConnectRefused
// for the plain single byte '0', kConnectFailed otherwise.
int ParseSecondReply(const BYTE* p, int n, SNAckRegReq& ack, CString& strPrjName,
                     CString& strTitle);

#endif  // QX_HANDSHAKE_H
