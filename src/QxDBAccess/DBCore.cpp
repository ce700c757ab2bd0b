#include "DBCore.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ByteOrder.h"
#include "ProjectLists.h"

namespace {

const useconds_t kStepPause = 6000;   // us, between the steps of a connect
const useconds_t kExitPause = 60000;  // us, before the receive thread signals
const DWORD kExitWait = 16000;        // ms

}  // namespace

namespace {
thread_local CDBCore::SRecvLocal* t_recvLocal = nullptr;
}  // namespace

// The tag lock held over a run of changes of one driver: a read of changes
// of one driver takes it once.
struct SRunLock {
    CDBDriver* pDriver = nullptr;
    std::unique_lock<std::mutex> lock;
    void To(CDBDriver* p) {
        if (p == pDriver) return;
        if (lock.owns_lock()) lock.unlock();
        pDriver = p;
        lock = std::unique_lock<std::mutex>(p->m_tagLock);
    }
    void Release() {
        if (lock.owns_lock()) lock.unlock();
        pDriver = nullptr;
    }
};

void* RecvThread(void* pParam) {
    static_cast<CDBCore*>(pParam)->DoRecv();
    return nullptr;
}

CDBCore::CDBCore()
    : m_nRights(0),
      m_bConnect(false),
      m_rtAlarmNotifyFn(nullptr),
      m_recvThread(),
      m_bThread(false),
      m_bAlarmSubscribing(false) {}

CDBCore::~CDBCore() {
    MuteState();
    if (OnReceiveThread()) {
        // Destroyed from a callback: end the connection, let the thread run
        // out on its own, and keep the drivers alive until the delivery that
        // is running has returned.
        EndConnection();
        t_recvLocal->bOrphaned = true;
        for (auto& entry : m_mapDrvInfos) {
            if (!entry.second.spDriver) continue;
            entry.second.spDriver->Detach();
            t_recvLocal->graveyard.push_back(entry.second.spDriver);
        }
        qxthread_detach(m_recvThread);
        m_bThread = false;
    } else {
        _Disconnect();
    }
    ClearDrivers();  // handles kept elsewhere must not reach this object
    m_exitThreadEvent.Close();
}

bool CDBCore::OnReceiveThread() const {
    return t_recvLocal != nullptr && t_recvLocal->pCore == this;
}

int CDBCore::_Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword) {
    if (OnReceiveThread()) return -2;  // it cannot join itself
    _Disconnect();
    szUserName = szUserName ? szUserName : "";
    szPassword = szPassword ? szPassword : "";
    {
        std::lock_guard<std::mutex> lock(m_superLock);
        m_strHost = szHost ? szHost : "";
        m_strUser = szUserName;
        m_strPassword = szPassword;
        m_bClosing = false;
    }
    SetState(kStateConnecting);
    int ret;
    {
        std::lock_guard<CReqMutex> lock(m_reqLock);
        ret = Connect(szHost, szUserName, szPassword);
        if (ret != 0) StopSock();
    }
    // The receive thread may have seen the new connection go already.
    SetState(ret == 0 ? kStateConnected : kStateClosed, kStateConnecting);
    return ret;
}

int CDBCore::Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword) {
    int ret = Login(szHost, szUserName, szPassword, m_mapDrvInfos);
    if (ret != 0) return ret;
    m_pDrivers.resize(m_mapDrvInfos.size());
    m_bConnect = true;
    m_exitThreadEvent.Create();
    if (qxthread_create(RecvThread, this, &m_recvThread) != 0) {
        SetLastError("the receive thread could not be started");
        m_bConnect = false;
        m_exitThreadEvent.Close();
        ClearDrivers();
        return -2;
    }
    m_bThread = true;
    return 0;
}

int CDBCore::Login(LPCTSTR szHost, const char* szUserName, const char* szPassword,
                   std::map<CString, SNDrvInfoEx>& infos) {
    const size_t usrLen = strlen(szUserName), pwdLen = strlen(szPassword);
    // Credentials that cannot go in one login request are refused unsent.
    if (usrLen + pwdLen + 3 > kLoginBufLen) {
        SetLastError("user name and password too long: %zu bytes, at most %d", usrLen + pwdLen,
                     kLoginBufLen - 3);
        return -1;
    }

    CString strHost(szHost ? szHost : ""), strPrjName, strTitle, strErr;
    SNAckRegReq ackRegReq;
    if (ConnectDB(strHost, strPrjName, strTitle, ackRegReq, true) != 0) return -2;
    usleep(kStepPause);
    if (strPrjName.IsEmpty()) {
        SetLastError("%s: the server gave no project name", strHost.c_str());
        return -3;
    }
    if (!AfterConnect(strHost, strPrjName, strErr)) {
        SetLastError("%s", strErr.c_str());
        return -2;
    }
    usleep(kStepPause);

    char buf[kLoginBufLen] = {0};
    buf[0] = '9';
    memcpy(buf + 1, szUserName, usrLen + 1);
    memcpy(buf + 2 + usrLen, szPassword, pwdLen + 1);
    if (ReqSend(buf, static_cast<int>(usrLen + pwdLen + 3)) <= 0) {
        SetLastError("login failed: the request could not be sent");
        return -2;
    }
    BYTE szReply[kLoginBufLen] = {0};
    if (m_reqSock._Recv(szReply, sizeof szReply) <= 0) {
        SetLastError("login failed: no reply (connection closed or timed out)");
        return -2;
    }
    usleep(kStepPause);
    if (szReply[0] == '0') {
        SetLastError("login refused for user '%s'", szUserName);
        return -1;
    }
    if (szReply[0] != '9') {
        SetLastError("login failed: unknown reply 0x%02x", szReply[0]);
        return -3;
    }

    CFileInfoMap mapFileInfos;
    SNFileInfo fi2;
    fi2.time = GetBE32(ackRegReq.dif_time);
    fi2.size = GetBE32(ackRegReq.dif_size);
    mapFileInfos["recdata/drvinfo.dat"] = fi2;
    if (GetPrjFile("RecData/drvinfo.dat", mapFileInfos) == 0) return -2;
    LoadPrjDrvInfo(m_prjDir, infos);

    m_strPrjName = strPrjName;
    m_strTitle = strTitle;
    m_nRights = GetLE32(szReply + 5);
    return 0;
}

void CDBCore::_Disconnect() {
    {
        std::lock_guard<std::mutex> lock(m_superLock);
        m_bClosing = true;
    }
    m_wake.notify_all();  // out of a pause between attempts
    if (OnReceiveThread()) {
        // From a callback: the thread ends once the delivery has returned;
        // it is joined by the next call made elsewhere.
        EndConnection();
        return;
    }
    if (GetState() == kStateReconnecting) {
        // An attempt under way ends first: its sockets are its own meanwhile.
        std::lock_guard<CReqMutex> lock(m_reqLock);
        if (m_bConnect.exchange(false)) ShutdownSock();
    } else if (m_bConnect.exchange(false)) {
        ShutdownSock();  // wakes the receive thread out of recv
        m_exitThreadEvent.Wait(kExitWait);
    }
    ReapReceiveThread();  // also after the server or a request ended it
    if (GetState() != kStateUnconnected) SetState(kStateClosed);
}

void CDBCore::EndConnection(const char* szRequest, const char* szWhy) {
    if (szRequest != nullptr) SetLastError("%s failed: %s", szRequest, szWhy ? szWhy : "");
    if (m_bConnect.exchange(false)) ShutdownSock();
}

std::string CDBCore::ReplyFailure(std::chrono::steady_clock::time_point start) const {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    // The waits end on whole milliseconds: a little short is the time out.
    if (ms + 20 < m_nReplyTimeOut) return "the reply was cut short or malformed";
    char text[64];
    snprintf(text, sizeof text, "reply timed out after %g s", m_nReplyTimeOut / 1000.0);
    return text;
}

void CDBCore::ReapReceiveThread() {
    qxthread_t thread;
    {
        std::lock_guard<CReqMutex> lock(m_reqLock);
        if (!m_bThread) return;
        m_bThread = false;
        thread = m_recvThread;
    }
    // Not under the lock: a callback still running may make a request.
    qxthread_join(thread);
    std::lock_guard<CReqMutex> lock(m_reqLock);
    m_rcvSock.Close();
    m_reqSock.Close();
    m_exitThreadEvent.Close();
    ClearDrivers();
}

void CDBCore::CloseLost() {
    ShutdownSock();  // wakes a request waiting for its reply
    m_rcvSock.Close();
    std::lock_guard<CReqMutex> lock(m_reqLock);
    m_reqSock.Close();
}

void CDBCore::DoRecv() {
    SRecvLocal local;
    local.pCore = this;
    t_recvLocal = &local;
    bool bLost = ReceiveUntilEnd(local);
    while (bLost && !local.bOrphaned) {
        CloseLost();
        if (!Supervise(local)) break;
        bLost = ReceiveUntilEnd(local);
    }
    if (!local.bOrphaned) SetState(kStateClosed);  // a callback may destroy the object here too
    t_recvLocal = nullptr;
    if (local.bOrphaned) return;  // the object is gone: touch nothing of it
    OnReceiveEnd();
    if (bLost) return;  // both connections are closed already
    usleep(kExitPause);
    m_exitThreadEvent.Signal();
}

bool CDBCore::ReceiveUntilEnd(SRecvLocal& local) {
    CNotifyBatch& batch = local.batch;
    BYTE buf[kRecvBufLen];
    size_t nHeld = 0;  // bytes of a message still arriving, at buf[0]
    while (m_bConnect) {
        int nLen = m_rcvSock._Recv(buf + nHeld, static_cast<int>(sizeof buf - nHeld));
        if (nLen < 1) {
            // The reason first: whoever sees the connection gone reads why. An
            // owner's disconnect clears m_bConnect before it wakes this read.
            if (m_bConnect) SetLastError("connection lost: the server closed it");
            m_bConnect = false;
            break;
        }
        nHeld += static_cast<size_t>(nLen);
        size_t nUsed = ParseNotifications(buf, nHeld, batch);
        nHeld -= nUsed;
        if (nHeld == sizeof buf) nHeld = 0;  // longer than a whole read: never completes
        if (nHeld > 0) memmove(buf, buf + nUsed, nHeld);
        if (!batch.Empty()) {
            OnNotifyBatch(batch);
            batch.Reset();
            if (local.bOrphaned) return false;
        }
    }
    // Whatever ended it but the owner (the server, a request that found its
    // reply cut short or late) is a loss.
    return !m_bClosing;
}

size_t CDBCore::ParseNotifications(const BYTE* buf, size_t n, CNotifyBatch& batch) {
    SRunLock run;
    size_t nPos = 0;
    while (nPos < n) {
        size_t r = FrameOne(buf + nPos, n - nPos, run, batch);
        if (r == kFrameNeedMore) break;
        if (r == kFrameBad) {
            nPos = n;
            break;
        }
        nPos += r;
    }
    run.Release();
    return nPos;
}

size_t CDBCore::FrameOne(const BYTE* p, size_t n, SRunLock& run, CNotifyBatch& batch) {
    if (n < 2) return kFrameNeedMore;
    const WORD id = GetLE16(p);
    if (id == 0xFFFF) {
        run.Release();
        SNotifyMsg msg;
        size_t r = FrameServerMsg(p, n, *this, msg);
        if (r == kFrameNeedMore || r == kFrameBad || msg.kind != kNotifyAlarm) return r;
        void* fn = m_rtAlarmNotifyFn.load(std::memory_order_acquire);
        if (fn != nullptr) {
            SNotifyItem& item = batch.Add();
            item.kind = SNotifyItem::kRtAlarm;
            item.fn = fn;
            item.pDriver = nullptr;
            DecodeRtAlarm(msg.pRecord, kRtAlarmLen, item.alarm);
        }
        return r;
    }
    if (n < 4) return kFrameNeedMore;
    CDBDriver* pDriver = GetDriverById(id);
    if (pDriver == nullptr) return kFrameBad;
    const WORD pos = GetLE16(p + 2);
    run.To(pDriver);
    if (pos >= pDriver->m_tags.size()) return kFrameBad;
    XVariant& value = pDriver->m_tags[pos].value;
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) return kFrameBad;
    size_t nValue = value.UpdateFromBuffer(p + 4, n - 4);
    if (nValue == 0) return HasPayload(value.vt) ? kFrameNeedMore : kFrameBad;
    void* fn = pDriver->m_tagNotifyFn.load(std::memory_order_acquire);
    if (fn != nullptr) {
        SNotifyItem& item = batch.Add();
        item.kind = SNotifyItem::kTagChange;
        item.pDriver = pDriver;
        item.fn = fn;
        item.pos = pos;
        item.value = value;
    }
    return 4 + nValue;
}

int CDBCore::OnDBNotify(const BYTE* pBuf, int nLen) {
    if (pBuf == nullptr || nLen <= 0) return 0;
    CNotifyBatch batch;
    SRunLock run;
    size_t r = FrameOne(pBuf, static_cast<size_t>(nLen), run, batch);
    run.Release();
    if (!batch.Empty()) OnNotifyBatch(batch);
    if (r == kFrameNeedMore) return 0;
    return r == kFrameBad ? 0xFFFF : static_cast<int>(r);
}

bool CDBCore::DestroyedDuringDelivery() {
    return t_recvLocal != nullptr && t_recvLocal->bOrphaned;
}

void CDBCore::OnNotifyBatch(const CNotifyBatch& batch) {
    // A callback that destroys this object ends the batch: nothing of it is
    // touched again.
    for (size_t i = 0; i < batch.Size() && !DestroyedDuringDelivery(); i++) {
        const SNotifyItem& item = batch[i];
        if (item.kind == SNotifyItem::kRtAlarm) {
            FireRtAlarm(item.fn, item.alarm);
        } else if (item.kind == SNotifyItem::kState) {
            FireStateNotify(item.fn, item.state);
        } else {
            FireTagNotify(*item.pDriver, item.fn, item.pos, item.value);
        }
    }
}

bool CDBCore::RequestAll(const char* szReq, size_t nReqLen, size_t needLen, char* buf) {
    // The whole reply within the reply time, however the server trickles it.
    return m_reqSock.SendAll(szReq, static_cast<int>(nReqLen)) &&
           m_reqSock.RecvAllTimeOut(buf, static_cast<int>(needLen), m_nReplyTimeOut);
}

bool CDBCore::BeginRequest() {
    if (!m_bConnect) {
        // The reason the connection ended stays the one to tell.
        if (LastError().empty()) SetLastError("not connected");
        return false;
    }
    if (m_reqSock.HasUnreadBytes()) {
        SetLastError("connection ended: the server sent bytes nobody asked for");
        EndConnection();  // a reply nobody waits for: the connection is out of step
        return false;
    }
    return true;
}

CDBDriver* CDBCore::GetDriverById(WORD id) const {
    return id < m_pDrivers.size() ? m_pDrivers[id].p.load(std::memory_order_acquire) : nullptr;
}

bool CDBCore::HasTag(WORD id, WORD pos) const {
    CDBDriver* pDriver = GetDriverById(id);
    return pDriver != nullptr && pos < pDriver->GetTagCount();
}

std::shared_ptr<CDBDriver> CDBCore::_GetDriver(LPCTSTR szDrvName) {
    CRequestHold hold(*this);
    if (!hold) return nullptr;
    if (!m_bConnect && m_bThread) return nullptr;  // ended, not yet released
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
    m_pDrivers[info.id].p.store(drv.get(), std::memory_order_release);  // complete before seen
    info.pDriver = drv.get();
    info.spDriver = drv;
    return drv;
}

void CDBCore::ClearDrivers() {
    std::lock_guard<CReqMutex> lock(m_reqLock);
    for (SDriverSlot& slot : m_pDrivers)
        slot.p.store(nullptr);
    for (auto& entry : m_mapDrvInfos) {
        if (entry.second.spDriver) entry.second.spDriver->Detach();
    }
    m_mapDrvInfos.clear();
}

void CDBCore::FireRtAlarm(void*, const S2RtAlarm2&) {}

void CDBCore::FireStateNotify(void*, EDBState) {}

void CDBCore::FireTagNotify(CDBDriver&, void*, WORD, const XVariant&) {}
