// CClientSock: the two connections of a client to one server and the
// handshake that opens them. The request connection carries requests and
// their replies; the notification connection carries what the server pushes.
#ifndef QX_CLIENTSOCK_H
#define QX_CLIENTSOCK_H

#include <mutex>
#include <string>

#include <cstdint>

#include "SyncSocket.h"
#include "XDir.h"
#include "cstring.h"

// The connection identifier that pairs the two connections on the server.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    BYTE Data4[8];
};
void CoCreateGuid(GUID& guid);
// The 16 bytes of the identifier as they go on the wire.
void GuidToBytes(const GUID& guid, BYTE out[16]);

// The fixed part of the server's second handshake reply. Every field is
// kept as bytes: the times and sizes are big-endian (read with GetBE32).
struct SNAckRegReq {
    BYTE serverData[42];
    BYTE fif_time[4];
    BYTE fif_size[4];
    BYTE dif_time[4];  // time stamp of RecData/drvinfo.dat
    BYTE dif_size[4];  // its size in bytes
};
static_assert(sizeof(SNAckRegReq) == 58, "SNAckRegReq is 58 bytes on the wire");

// Results of ConnectDB besides 0, E_FAIL and E_INVALIDARG.
const int kConnectFailed = 1;
const int kConnectRefused = 1244;

class CClientSock {
public:
    CClientSock();
    virtual ~CClientSock();

    // The handshake on both connections; 0 on success with the outputs set.
    int ConnectDB(LPCTSTR szHost, CString& strPrjName, CString& strTitle, SNAckRegReq& ackRegReq,
                  bool bAccessDB);
    // Sends all of lpBuf on the request connection: nBufLen, or the failing
    // send's result (<= 0).
    int ReqSend(const void* lpBuf, int nBufLen);
    void StopSock();
    // Wakes any thread blocked on either connection without closing it.
    void ShutdownSock();
    static bool _IsLocalDB(LPCTSTR szHost);
    static void GetGatewayMac(ULONG nP2PServ, BYTE mac[6]);

    // Sets up the project folder and paths after the handshake: a cache tree
    // for a remote server, the server's own folders for a local one.
    bool AfterConnect(LPCTSTR szHost, const CString& strPrjName, CString& strErr);
    // Asks the server for its project, event, alarm and history folders.
    bool GetPrjPath(CString& strPrjPath, CString& strEventPath, CString& strAlarmPath,
                    CString& strHistPath);

    // Why the last connect or request failed, for people: "127.0.0.1:80:
    // connection refused", "login refused for user 'x'", ... Kept until the
    // next failure; set only when something fails.
    std::string LastError() const;
    void SetLastError(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));

    bool m_bLocalDB;
    bool m_bLan;
    CReqTimeSock m_reqSock;  // owner's thread only
    CScnSocket m_rcvSock;    // receive thread only, once connected
    CString m_strPrjPath;
    XDir m_prjDir;  // the cache folder of m_strPrjPath, checked when it was made
    CString m_strEventPath;
    CString m_strAlarmPath;
    CString m_strHistPath;

private:
    int ConnectDB(LPCTSTR szHost, CString& strPrjName, CString& strTitle, SNAckRegReq& ackRegReq,
                  bool bAccessDB, int nRedirects);
    // The failure of a connection attempt to where, from errno.
    void SetConnectError(const CString& strWhere, UINT nPort, int nTimeOut);

    mutable std::mutex m_errLock;  // the receive thread sets it too
    std::string m_strLastError;
};

#endif  // QX_CLIENTSOCK_H
