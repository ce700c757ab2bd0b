#include "DBCore.h"

#include <unistd.h>

#include <cstring>

#include "ByteOrder.h"
#include "ProjectLists.h"

namespace {

const useconds_t kStepPause = 6000;   // us, between the steps of a connect
const useconds_t kExitPause = 60000;  // us, before the receive thread signals
const DWORD kExitWait = 16000;        // ms

}  // namespace

void* RecvThread(void* pParam) {
    static_cast<CDBCore*>(pParam)->DoRecv();
    return nullptr;
}

CDBCore::CDBCore()
    : m_nRights(0),
      m_bConnect(false),
      m_rtAlarmNotifyFn(nullptr),
      m_recvThread(),
      m_bThread(false) {}

CDBCore::~CDBCore() {
    _Disconnect();
    ClearDrivers();  // handles kept elsewhere must not reach this object
    m_exitThreadEvent.Close();
}

int CDBCore::_Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword) {
    _Disconnect();
    int ret = Connect(szHost, szUserName ? szUserName : "", szPassword ? szPassword : "");
    if (ret != 0) StopSock();
    return ret;
}

int CDBCore::Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword) {
    const size_t usrLen = strlen(szUserName), pwdLen = strlen(szPassword);
    // Credentials that cannot go in one login request are refused unsent.
    if (usrLen + pwdLen + 3 > kLoginBufLen) return -1;

    CString strHost(szHost ? szHost : ""), strPrjName, strTitle, strErr;
    SNAckRegReq ackRegReq;
    if (ConnectDB(strHost, strPrjName, strTitle, ackRegReq, true) != 0) return -2;
    usleep(kStepPause);
    if (strPrjName.IsEmpty()) return -3;
    if (!AfterConnect(strHost, strPrjName, strErr)) return -2;
    usleep(kStepPause);

    char buf[kLoginBufLen] = {0};
    buf[0] = '9';
    memcpy(buf + 1, szUserName, usrLen + 1);
    memcpy(buf + 2 + usrLen, szPassword, pwdLen + 1);
    if (ReqSend(buf, static_cast<int>(usrLen + pwdLen + 3)) <= 0) return -2;
    BYTE szReply[kLoginBufLen] = {0};
    if (m_reqSock._Recv(szReply, sizeof szReply) <= 0) return -2;
    usleep(kStepPause);
    if (szReply[0] == '0') return -1;
    if (szReply[0] != '9') return -3;

    CFileInfoMap mapFileInfos;
    SNFileInfo fi2;
    fi2.time = GetBE32(ackRegReq.dif_time);
    fi2.size = GetBE32(ackRegReq.dif_size);
    mapFileInfos["recdata/drvinfo.dat"] = fi2;
    if (GetPrjFile("RecData/drvinfo.dat", mapFileInfos) == 0) return -2;
    LoadPrjDrvInfo(m_strPrjPath, m_mapDrvInfos);
    m_pDrivers.resize(m_mapDrvInfos.size());

    m_strPrjName = strPrjName;
    m_strTitle = strTitle;
    m_nRights = GetLE32(szReply + 5);
    m_bConnect = true;
    m_exitThreadEvent.Create();
    if (qxthread_create(RecvThread, this, &m_recvThread) != 0) {
        m_bConnect = false;
        m_exitThreadEvent.Close();
        ClearDrivers();
        return -2;
    }
    m_bThread = true;
    return 0;
}

void CDBCore::_Disconnect() {
    if (!m_bConnect.exchange(false)) {
        ReapReceiveThread();  // the server may have ended the connection
        return;
    }
    ShutdownSock();  // wakes the receive thread out of recv
    m_exitThreadEvent.Wait(kExitWait);
    ReapReceiveThread();
}

void CDBCore::ReapReceiveThread() {
    if (!m_bThread) return;
    qxthread_join(m_recvThread);
    m_bThread = false;
    m_rcvSock.Close();
    m_reqSock.Close();
    m_exitThreadEvent.Close();
    ClearDrivers();
}

void CDBCore::DoRecv() {
    BYTE buf[kRecvBufLen];
    size_t nHeld = 0;  // bytes of a message still arriving, at buf[0]
    while (m_bConnect) {
        int nLen = m_rcvSock._Recv(buf + nHeld, static_cast<int>(sizeof buf - nHeld));
        if (nLen < 1) {
            if (m_bConnect.exchange(false)) {
                // Lost: wake the owner out of any request; it cleans up.
                ShutdownSock();
                return;
            }
            break;
        }
        nHeld += static_cast<size_t>(nLen);
        size_t nUsed = ParseNotifications(buf, nHeld);
        nHeld -= nUsed;
        if (nHeld == sizeof buf) nHeld = 0;  // longer than a whole read: never completes
        if (nHeld > 0) memmove(buf, buf + nUsed, nHeld);
    }
    usleep(kExitPause);
    m_exitThreadEvent.Signal();
}

size_t CDBCore::ParseNotifications(const BYTE* buf, size_t n) {
    size_t nPos = 0;
    while (nPos < n) {
        int r = OnDBNotify(buf + nPos, static_cast<int>(n - nPos));
        if (r == 0) return nPos;
        if (r == 0xFFFF) return n;
        nPos += static_cast<size_t>(r);
    }
    return n;
}

int CDBCore::OnDBNotify(const BYTE* pBuf, int nLen) {
    if (nLen <= 0) return 0;
    SNotifyMsg msg;
    size_t r = FrameNotify(pBuf, static_cast<size_t>(nLen), *this, msg);
    if (r == kFrameNeedMore) return 0;
    if (r == kFrameBad) return 0xFFFF;
    if (msg.kind == kNotifyTag) {
        CDBDriver* pDriver = GetDriverById(msg.id);
        if (pDriver == nullptr || !pDriver->OnDBNotify(msg.pos, msg.value)) return 0xFFFF;
    } else if (msg.kind == kNotifyAlarm) {
        void* fn = m_rtAlarmNotifyFn.load();
        if (fn != nullptr) FireRtAlarm(fn, msg.pRecord);
    }
    return static_cast<int>(r);
}

bool CDBCore::RequestAll(const char* szReq, size_t nReqLen, size_t needLen, char* buf) {
    return m_reqSock.SendAll(szReq, static_cast<int>(nReqLen)) &&
           m_reqSock.RecvAll(buf, static_cast<int>(needLen));
}

CDBDriver* CDBCore::GetDriverById(WORD id) const {
    return id < m_pDrivers.size() ? m_pDrivers[id].p.load() : nullptr;
}

bool CDBCore::GetTagType(WORD id, WORD pos, VARTYPE& vt) const {
    CDBDriver* pDriver = GetDriverById(id);
    return pDriver != nullptr && pDriver->GetTagType(pos, vt);
}

std::shared_ptr<CDBDriver> CDBCore::_GetDriver(LPCTSTR szDrvName) {
    auto it = m_mapDrvInfos.find(CString(szDrvName ? szDrvName : ""));
    if (it == m_mapDrvInfos.end()) return nullptr;
    SNDrvInfoEx& info = it->second;
    if (info.spDriver) return info.spDriver;
    // A list whose id has no slot, or whose slot another driver holds, cannot
    // be told apart by notifications: such an entry gives no driver.
    if (info.id >= m_pDrivers.size() || m_pDrivers[info.id].p.load() != nullptr) return nullptr;
    auto drv = std::make_shared<CDBDriver>();
    drv->m_pDBCore = this;
    drv->m_strDriver = it->first;
    drv->m_drvId = info.id;
    drv->SetTagCount(info.tagNum);
    m_pDrivers[info.id].p.store(drv.get());  // complete before it is seen
    info.pDriver = drv.get();
    info.spDriver = drv;
    return drv;
}

void CDBCore::ClearDrivers() {
    for (SDriverSlot& slot : m_pDrivers)
        slot.p.store(nullptr);
    for (auto& entry : m_mapDrvInfos) {
        if (entry.second.spDriver) entry.second.spDriver->Detach();
    }
    m_mapDrvInfos.clear();
}

void CDBCore::FireRtAlarm(void*, const BYTE*) {}

void CDBCore::FireTagNotify(CDBDriver&, void*, WORD, const CString&, const XVariant&) {}
