#include "SyncSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

timeval MillisToTimeval(int nTimeOut) {
    timeval tv;
    tv.tv_sec = nTimeOut / 1000;
    tv.tv_usec = (nTimeOut % 1000) * 1000;
    return tv;
}

// Waits for the socket to become readable (or writable); false on time-out.
// A signal does not cut the wait short.
bool WaitFor(SOCKET h, short events, int nTimeOut) {
    pollfd pfd;
    pfd.fd = h;
    pfd.events = events;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeOut);
    for (;;) {
        pfd.revents = 0;
        int r = poll(&pfd, 1, nTimeOut);
        if (r >= 0 || errno != EINTR) return r > 0;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        nTimeOut = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
}

// Connects h within nTimeOut ms: non-blocking, then a bounded wait.
bool ConnectWithin(SOCKET h, const sockaddr_in& in, int nTimeOut) {
    const sockaddr* addr = reinterpret_cast<const sockaddr*>(&in);
    if (nTimeOut <= 0) {
        int r;
        do {
            r = ::connect(h, addr, sizeof in);
        } while (r != 0 && errno == EINTR);
        return r == 0 || errno == EISCONN;
    }
    int flags = fcntl(h, F_GETFL, 0);
    if (flags < 0 || fcntl(h, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    bool ok = ::connect(h, addr, sizeof in) == 0;
    // errno tells the caller why it failed: the connect's own error, or
    // ETIMEDOUT when the wait ran out.
    int err = ok ? 0 : errno;
    if (!ok && (err == EINPROGRESS || err == EINTR)) {
        if (WaitFor(h, POLLOUT, nTimeOut)) {
            socklen_t len = sizeof err;
            err = 0;
            if (getsockopt(h, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            ok = err == 0;
        } else {
            err = ETIMEDOUT;
        }
    }
    fcntl(h, F_SETFL, flags);
    errno = err;
    return ok;
}

}  // namespace

CSyncSocket::~CSyncSocket() {
    if (m_hSocket != INVALID_SOCKET) ::close(m_hSocket);
}

bool CSyncSocket::IsSocket() const {
    SOCKET h = m_hSocket;
    return h != 0 && h != INVALID_SOCKET;
}

int CSyncSocket::_Send(const void* lpBuf, int nBufLen, int nFlags) {
    ssize_t n;
    do {
        n = ::send(m_hSocket, lpBuf, nBufLen, nFlags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int CSyncSocket::_Recv(void* lpBuf, int nBufLen, int nFlags) {
    ssize_t n;
    do {
        n = ::recv(m_hSocket, lpBuf, nBufLen, nFlags);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

bool CSyncSocket::HasUnreadBytes() const {
    char c;
    ssize_t n;
    do {
        n = ::recv(m_hSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n >= 0;  // a byte, or 0 for a closed peer; -1 with EAGAIN when none
}

bool CSyncSocket::Create(UINT nSocketPort, int nSocketType, LPCTSTR lpszSocketAddress,
                         bool bReuse) {
    if (m_hSocket != INVALID_SOCKET) return true;
    SOCKET h = ::socket(AF_INET, nSocketType, 0);
    if (h == INVALID_SOCKET) return false;
    if (nSocketPort != 0 || lpszSocketAddress != nullptr) {
        if (bReuse) {
            int on = 1;
            setsockopt(h, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        sockaddr_in in;
        CreateAddrIn(lpszSocketAddress, nSocketPort, in);
        if (::bind(h, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
            ::close(h);
            return false;
        }
    }
    m_hSocket = h;
    return true;
}

void CSyncSocket::CreateAddrIn(LPCTSTR szAddr, UINT nPort, sockaddr_in& in) {
    ULONG uIp = 0;
    if (szAddr != nullptr) {
        in_addr_t a = inet_addr(szAddr);
        if (a == 0 || a == INADDR_NONE) {
            addrinfo hints;
            memset(&hints, 0, sizeof hints);
            hints.ai_family = AF_INET;
            addrinfo* res = nullptr;
            if (getaddrinfo(szAddr, nullptr, &hints, &res) == 0 && res != nullptr) {
                a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
            }
            if (res) freeaddrinfo(res);
        }
        uIp = a;
    }
    CreateAddrIn(uIp, nPort, in);
}

void CSyncSocket::CreateAddrIn(ULONG uIp, UINT nPort, sockaddr_in& in) {
    memset(&in, 0, sizeof in);
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<uint16_t>(nPort));
    in.sin_addr.s_addr = static_cast<in_addr_t>(uIp);
}

bool CSyncSocket::_Connect(LPCTSTR lpszHostAddress, UINT nHostPort, int nTimeOut) {
    sockaddr_in in;
    CreateAddrIn(lpszHostAddress, nHostPort, in);
    return ConnectWithin(m_hSocket, in, nTimeOut);
}

bool CSyncSocket::_Connect(ULONG uIp, UINT nHostPort, int nTimeOut) {
    sockaddr_in in;
    CreateAddrIn(uIp, nHostPort, in);
    return ConnectWithin(m_hSocket, in, nTimeOut);
}

void CSyncSocket::Close() {
    SOCKET h = m_hSocket.exchange(INVALID_SOCKET);
    if (h != 0 && h != INVALID_SOCKET) ::close(h);
}

void CSyncSocket::Shutdown() {
    SOCKET h = m_hSocket;
    if (h != 0 && h != INVALID_SOCKET) ::shutdown(h, SHUT_RDWR);
}

bool CSyncSocket::SetRecvTimeOut(int nTimeOut) {
    timeval tv = MillisToTimeval(nTimeOut);
    return setsockopt(m_hSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool CSyncSocket::SetSendTimeOut(int nTimeOut) {
    timeval tv = MillisToTimeval(nTimeOut);
    return setsockopt(m_hSocket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool CSyncSocket::SetTimeOut(int nTimeOut) {
    if (nTimeOut == 0) return true;
    return SetRecvTimeOut(nTimeOut) && SetSendTimeOut(nTimeOut);
}

bool CSyncSocket::GetRecvTimeOut(int& nTimeOut) {
    timeval tv;
    socklen_t len = sizeof tv;
    if (getsockopt(m_hSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, &len) != 0) return false;
    nTimeOut = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
    return true;
}

bool CSyncSocket::SendAll(const void* lpBuf, int nBufLen, int nFlags) {
    if (nBufLen < 0) return false;
    const char* p = static_cast<const char*>(lpBuf);
    while (nBufLen > 0) {
        int n = _Send(p, nBufLen, nFlags);
        if (n < 1) return false;
        p += n;
        nBufLen -= n;
    }
    return true;
}

bool CSyncSocket::RecvAll(void* lpBuf, int nBufLen, int nFlags) {
    if (nBufLen < 0) return false;
    char* p = static_cast<char*>(lpBuf);
    while (nBufLen > 0) {
        int n = _Recv(p, nBufLen, nFlags);
        if (n < 1) return false;
        p += n;
        nBufLen -= n;
    }
    return true;
}

bool CSyncSocket::RecvAllTimeOut(void* lpBuf, int nBufLen, int nTimeOut) {
    if (nBufLen < 0) return false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeOut);
    char* p = static_cast<char*>(lpBuf);
    while (nBufLen > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitFor(m_hSocket, POLLIN, static_cast<int>(left.count()))) {
            return false;
        }
        int n = _Recv(p, nBufLen);
        if (n < 1) return false;
        p += n;
        nBufLen -= n;
    }
    return true;
}

bool CSyncSocket::SendTimeOut(const void* pBuffer, int dwSize, int nTimeOut) {
    if (!WaitFor(m_hSocket, POLLOUT, nTimeOut)) return false;
    return _Send(pBuffer, dwSize) == dwSize;
}

int CSyncSocket::RecvTimeOut(void* lpBuf, int nBufLen, int nTimeOut) {
    if (!WaitFor(m_hSocket, POLLIN, nTimeOut)) return -3;
    return _Recv(lpBuf, nBufLen);
}

SOCKET CSyncSocket::Accept(sockaddr_in* pAddr) {
    SOCKET h;
    do {
        socklen_t len = sizeof(sockaddr_in);
        h = ::accept(m_hSocket, reinterpret_cast<sockaddr*>(pAddr), pAddr ? &len : nullptr);
    } while (h < 0 && errno == EINTR);
    return h;
}

int CSyncSocket::_SendTo(const void* lpBuf, int nBufLen, UINT nHostPort, LPCTSTR lpszHostAddress,
                         int nFlags) {
    sockaddr_in in;
    CreateAddrIn(lpszHostAddress, nHostPort, in);
    return static_cast<int>(
        ::sendto(m_hSocket, lpBuf, nBufLen, nFlags, reinterpret_cast<sockaddr*>(&in), sizeof in));
}

int CSyncSocket::_RecvFrom(void* lpBuf, int nBufLen, sockaddr_in* pAddr, int nFlags) {
    socklen_t len = sizeof(sockaddr_in);
    return static_cast<int>(::recvfrom(m_hSocket, lpBuf, nBufLen, nFlags,
                                       reinterpret_cast<sockaddr*>(pAddr), pAddr ? &len : nullptr));
}

bool CScnSocket::_Connect(LPCTSTR lpszHostAddress, UINT nHostPort, int nTimeOut) {
    if (m_nCenterIp != 0) return CSyncSocket::_Connect(m_nCenterIp, nHostPort, nTimeOut);
    return CSyncSocket::_Connect(lpszHostAddress, nHostPort, nTimeOut);
}

void CScnSocket::Close() {
    m_nCenterIp = 0;
    CSyncSocket::Close();
}

int CReqTimeSock::_Send(const void* lpBuf, int nBufLen, int nFlags) {
    m_lastReqTime = time(nullptr);
    return CSyncSocket::_Send(lpBuf, nBufLen, nFlags);
}
