#include "ClientSock.h"

#include <sched.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ByteOrder.h"
#include "Handshake.h"
#include "HostText.h"

namespace {

const int kDirectTimeOut = 8000;   // ms
const int kCentreTimeOut = 13000;  // ms
const int kNoTimeOut = 0x7FFFFFFF;
// A server that keeps redirecting would otherwise recurse without end.
const int kMaxRedirects = 4;

}  // namespace

void CoCreateGuid(GUID& guid) {
    guid.Data1 = static_cast<uint32_t>(time(nullptr));
    srand(guid.Data1);
    guid.Data2 = static_cast<uint16_t>(rand());
    guid.Data3 = static_cast<uint16_t>(rand());
    timeval tv;
    gettimeofday(&tv, nullptr);
    PutLE32(guid.Data4, static_cast<uint32_t>(tv.tv_sec));
    PutLE32(guid.Data4 + 4, static_cast<uint32_t>(tv.tv_usec));
}

void GuidToBytes(const GUID& guid, BYTE out[16]) {
    PutLE32(out, guid.Data1);
    PutLE16(out + 4, guid.Data2);
    PutLE16(out + 6, guid.Data3);
    memcpy(out + 8, guid.Data4, 8);
}

CClientSock::CClientSock() : m_bLocalDB(true), m_bLan(false) {}

CClientSock::~CClientSock() {}

void CClientSock::StopSock() {
    m_reqSock.Close();
    m_rcvSock.Close();
}

void CClientSock::ShutdownSock() {
    m_reqSock.Shutdown();
    m_rcvSock.Shutdown();
}

std::string CClientSock::LastError() const {
    std::lock_guard<std::mutex> lock(m_errLock);
    return m_strLastError;
}

void CClientSock::SetLastError(const char* szFormat, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, szFormat);
    vsnprintf(buf, sizeof buf, szFormat, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(m_errLock);
    m_strLastError = buf;
}

void CClientSock::SetConnectError(const CString& strWhere, UINT nPort, int nTimeOut) {
    const int err = errno;
    if (err == 0 || err == EINPROGRESS || err == ETIMEDOUT || err == EAGAIN) {
        SetLastError("%s:%u: no answer within %d s", strWhere.c_str(), nPort, nTimeOut / 1000);
        return;
    }
    std::string text = strerror(err);
    if (!text.empty()) text[0] = static_cast<char>(tolower(static_cast<unsigned char>(text[0])));
    SetLastError("%s:%u: %s", strWhere.c_str(), nPort, text.c_str());
}

bool CClientSock::_IsLocalDB(LPCTSTR) {
    return false;  // a Linux client never shares the server's folders
}

void CClientSock::GetGatewayMac(ULONG, BYTE mac[6]) {
    memset(mac, 0, 6);
}

int CClientSock::ReqSend(const void* lpBuf, int nBufLen) {
    if (nBufLen < 1) return nBufLen;
    const char* p = static_cast<const char*>(lpBuf);
    int nTotal = 0;
    while (nTotal < nBufLen) {
        int n = m_reqSock._Send(p + nTotal, nBufLen - nTotal);
        if (n <= 0) return n;
        nTotal += n;
    }
    return nBufLen;
}

int CClientSock::ConnectDB(LPCTSTR szHost, CString& strPrjName, CString& strTitle,
                           SNAckRegReq& ackRegReq, bool bAccessDB) {
    return ConnectDB(szHost, strPrjName, strTitle, ackRegReq, bAccessDB, 0);
}

int CClientSock::ConnectDB(LPCTSTR szHost, CString& strPrjName, CString& strTitle,
                           SNAckRegReq& ackRegReq, bool bAccessDB, int nRedirects) {
    StopSock();
    srand(static_cast<unsigned>(time(nullptr)));
    m_bLocalDB = true;

    SHostAddr addr;
    HRESULT hr = ParseHostText(szHost, addr);
    if (hr != 0) {
        if (addr.bCentre) m_bLocalDB = false;
        SetLastError("bad server address '%s'", szHost ? szHost : "");
        return hr;
    }
    int nTimeOut;
    if (addr.bCentre) {
        m_bLocalDB = false;
        m_reqSock.SetP2PCenterIp(addr.nCentreIp);
        m_rcvSock.SetP2PCenterIp(addr.nCentreIp);
        nTimeOut = kCentreTimeOut;
    } else {
        m_bLocalDB = _IsLocalDB(addr.strHost);
        nTimeOut = kDirectTimeOut;
    }
    const CString& strConnect = addr.bCentre ? addr.strTarget : addr.strHost;

    GUID guid;
    CoCreateGuid(guid);
    BYTE id[16];
    GuidToBytes(guid, id);
    errno = 0;
    if (!m_reqSock.Create() || !m_reqSock._Connect(strConnect, addr.nPort, nTimeOut)) {
        SetConnectError(strConnect, addr.nPort, nTimeOut);
        return kConnectFailed;
    }
    m_reqSock.SetTimeOut(nTimeOut);
    const char* where = strConnect.c_str();
    const unsigned port = addr.nPort;

    BYTE packet[kHandshakeBufLen];
    const bool bRelayPort = addr.nPort == kCentrePort;
    BYTE mac[6];
    GetGatewayMac(addr.bCentre ? addr.nCentreIp : 0, mac);
    int nPacket = BuildFirstPacket(id, bRelayPort, mac, strConnect, packet);
    if (nPacket == 0 || m_reqSock._Send(packet, nPacket) != nPacket) {
        SetLastError("%s:%u: handshake failed: the first packet could not be sent", where, port);
        return kConnectFailed;
    }

    BYTE reply[kHandshakeBufLen];
    int nReply = m_reqSock._Recv(reply, sizeof reply);
    CString strLan;
    switch (ParseFirstReply(reply, nReply, bRelayPort, strLan)) {
        case kFirstAccept:
            break;
        case kFirstRefuse:
            SetLastError("%s:%u: the server refused the connection", where, port);
            return E_FAIL;
        case kFirstBad:
            if (nReply <= 0) {
                SetLastError("%s:%u: handshake failed: no reply to the first packet", where, port);
            } else {
                SetLastError("%s:%u: handshake failed: unexpected reply (%d bytes)", where, port,
                             nReply);
            }
            return kConnectFailed;
        case kFirstRedirect:
            m_bLan = true;
            printf("Is same lan ...\n");
            fflush(stdout);
            m_reqSock.Close();
            m_rcvSock.SetP2PCenterIp(0);
            if (nRedirects >= kMaxRedirects) {
                SetLastError("%s:%u: more than %d redirects", where, port, kMaxRedirects);
                return kConnectFailed;
            }
            return ConnectDB(strLan, strPrjName, strTitle, ackRegReq, bAccessDB, nRedirects + 1);
    }

    sched_yield();
    errno = 0;
    if (!m_rcvSock.Create() || !m_rcvSock._Connect(strConnect, addr.nPort, nTimeOut)) {
        SetConnectError(strConnect, addr.nPort, nTimeOut);
        return kConnectFailed;
    }
    m_rcvSock.SetTimeOut(nTimeOut);

    char szHostName[256] = {0};
    gethostname(szHostName, sizeof szHostName - 1);
    nPacket = BuildSecondPacket(id, szHostName, bAccessDB, packet);
    if (nPacket == 0 || m_rcvSock._Send(packet, nPacket) != nPacket) {
        SetLastError("%s:%u: handshake failed: the second packet could not be sent", where, port);
        return kConnectFailed;
    }

    nReply = m_rcvSock._Recv(reply, sizeof reply);
    if (nReply < 1) {
        SetLastError("%s:%u: handshake failed: no reply to the second packet", where, port);
        return kConnectFailed;
    }
    int ret = ParseSecondReply(reply, nReply, ackRegReq, strPrjName, strTitle);
    if (ret == kConnectRefused) {
        SetLastError("%s:%u: the server refused the notification connection", where, port);
    } else if (ret != 0) {
        SetLastError("%s:%u: handshake failed: unexpected second reply (%d bytes)", where, port,
                     nReply);
    }
    if (ret != 0) return ret;
    m_rcvSock.SetTimeOut(kNoTimeOut);
    sched_yield();
    return 0;
}
