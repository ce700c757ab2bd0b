// Blocking TCP socket wrappers. CSyncSocket is one handle; CScnSocket can
// route its connect through a relay ("centre") address; CReqTimeSock stamps
// the time of the last request sent.
#ifndef QX_SYNCSOCKET_H
#define QX_SYNCSOCKET_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <ctime>

#include "wintypes.h"

typedef int SOCKET;
const SOCKET INVALID_SOCKET = -1;

class CSyncSocket {
public:
    CSyncSocket() : m_hSocket(INVALID_SOCKET) {}
    virtual ~CSyncSocket();

    virtual bool IsSocket() const;
    virtual int _Send(const void* lpBuf, int nBufLen, int nFlags = 0);
    virtual int _Recv(void* lpBuf, int nBufLen, int nFlags = 0);

    bool Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM,
                LPCTSTR lpszSocketAddress = nullptr, bool bReuse = false);
    static void CreateAddrIn(LPCTSTR szAddr, UINT nPort, sockaddr_in& in);
    static void CreateAddrIn(ULONG uIp, UINT nPort, sockaddr_in& in);
    // Connects within nTimeOut ms (0: the system's own bound).
    bool _Connect(LPCTSTR lpszHostAddress, UINT nHostPort, int nTimeOut = 0);
    bool _Connect(ULONG uIp, UINT nHostPort, int nTimeOut = 0);
    void Close();
    // Ends both directions without releasing the handle, so that a thread
    // blocked in recv on it returns; close() alone does not wake it on Linux.
    void Shutdown();

    bool SetRecvTimeOut(int nTimeOut);
    bool SetSendTimeOut(int nTimeOut);
    bool SetTimeOut(int nTimeOut);
    bool GetRecvTimeOut(int& nTimeOut);

    bool SendAll(const void* lpBuf, int nBufLen, int nFlags = 0);
    bool RecvAll(void* lpBuf, int nBufLen, int nFlags = 0);
    // As RecvAll, all of it within nTimeOut ms.
    bool RecvAllTimeOut(void* lpBuf, int nBufLen, int nTimeOut);
    // Whether bytes are waiting to be read, or the peer has closed: either
    // means a request-reply connection is out of step.
    bool HasUnreadBytes() const;
    bool SendTimeOut(const void* pBuffer, int dwSize, int nTimeOut);
    // -3 when no data arrives within nTimeOut ms.
    int RecvTimeOut(void* lpBuf, int nBufLen, int nTimeOut);

    SOCKET Accept(sockaddr_in* pAddr = nullptr);
    int _SendTo(const void* lpBuf, int nBufLen, UINT nHostPort, LPCTSTR lpszHostAddress,
                int nFlags = 0);
    int _RecvFrom(void* lpBuf, int nBufLen, sockaddr_in* pAddr, int nFlags = 0);

    SOCKET GetHandle() const { return m_hSocket; }
    void Attach(SOCKET h) { m_hSocket = h; }

protected:
    // Written by the owner's thread only; atomic because a shutdown from the
    // owner's thread reads it while the receive thread uses the socket.
    std::atomic<SOCKET> m_hSocket;
};

class CScnSocket : public CSyncSocket {
public:
    CScnSocket() : m_nCenterIp(0) {}
    ~CScnSocket() override {}

    // Connects to the centre address instead of the host when one is set.
    bool _Connect(LPCTSTR lpszHostAddress, UINT nHostPort, int nTimeOut = 0);
    void Close();
    void SetP2PCenterIp(ULONG nIp) { m_nCenterIp = nIp; }
    ULONG GetP2PCenterIp() const { return m_nCenterIp; }

protected:
    ULONG m_nCenterIp;  // IPv4 in network order; 0 = none
};

class CReqTimeSock : public CScnSocket {
public:
    CReqTimeSock() : m_lastReqTime(time(nullptr)) {}
    ~CReqTimeSock() override {}

    int _Send(const void* lpBuf, int nBufLen, int nFlags = 0) override;

protected:
    time_t m_lastReqTime;
};

#endif  // QX_SYNCSOCKET_H
