// The connection's state, and its restoration by the receive thread once it
// is lost: pauses that grow, login again, the same drivers under their new
// ids, their advised tags advised again, the alarm subscription again.
#include <random>

#include "DBCore.h"

namespace {

double Jitter() {
    thread_local std::minstd_rand gen(std::random_device{}());
    return std::uniform_real_distribution<double>(0.0, 1.0)(gen);
}

}  // namespace

CRequestHold::CRequestHold(CDBCore& core) : m_core(core) {
    const bool bOwn = core.OnReceiveThread();
    auto restoring = [&] { return !bOwn && core.m_state.load() == kStateReconnecting; };
    if (restoring() || !core.m_reqLock.LockUnless(restoring)) return;
    if (restoring()) {
        core.m_reqLock.unlock();
        return;
    }
    m_bHeld = true;
}

CRequestHold::~CRequestHold() {
    if (m_bHeld) m_core.m_reqLock.unlock();
}

void CDBCore::SetAutoReconnect(const SReconnectSettings& s) {
    std::lock_guard<std::mutex> lock(m_superLock);
    m_reconnect = ClampReconnect(s);
}

SReconnectSettings CDBCore::GetAutoReconnect() const {
    std::lock_guard<std::mutex> lock(m_superLock);
    return m_reconnect;
}

bool CDBCore::SetStateNotifyFn(void* fn) {
    void* none = nullptr;
    return fn != nullptr && m_stateNotifyFn.compare_exchange_strong(none, fn);
}

void CDBCore::SetState(EDBState state, int nOnlyFrom) {
    if (nOnlyFrom >= 0) {
        int from = nOnlyFrom;
        if (!m_state.compare_exchange_strong(from, state)) return;
    } else if (m_state.exchange(state) == state) {
        return;
    }
    void* fn = m_stateNotifyFn.load(std::memory_order_acquire);
    if (fn == nullptr || m_bMuted) return;
    CNotifyBatch batch;
    batch.AddState(fn, state);
    OnNotifyBatch(batch);
}

bool CDBCore::WaitUnlessClosing(int ms) {
    std::unique_lock<std::mutex> lock(m_superLock);
    return m_wake.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return m_bClosing.load(); });
}

bool CDBCore::Supervise(SRecvLocal& local) {
    const SReconnectSettings cfg = GetAutoReconnect();
    m_nAttempts = 0;
    if (!cfg.bEnabled || m_bClosing) return false;
    SetState(kStateReconnecting);
    for (int n = 1; !local.bOrphaned && (cfg.nMaxAttempts == 0 || n <= cfg.nMaxAttempts); n++) {
        const int ms = BackoffDelayMs(cfg, n, Jitter());
        m_nLastBackoffMs = ms;
        if (WaitUnlessClosing(ms)) return false;
        m_nAttempts = n;
        local.batch.Reset();
        if (TryReconnect(local.batch)) {
            SetState(kStateConnected);
            // The values as they are now, then the alarms replayed: what
            // changed while the connection was down is not missed.
            if (!local.bOrphaned && !local.batch.Empty()) OnNotifyBatch(local.batch);
            local.batch.Reset();
            return !local.bOrphaned;
        }
        if (m_bClosing) return false;
    }
    if (local.bOrphaned) return false;
    const std::string why = LastError();
    SetLastError("reconnect gave up after %d attempts: %s", m_nAttempts.load(), why.c_str());
    return false;
}

bool CDBCore::TryReconnect(CNotifyBatch& resync) {
    CString host;
    std::string user, password;
    bool bReplay;
    {
        std::lock_guard<std::mutex> lock(m_superLock);
        host = m_strHost;
        user = m_strUser;
        password = m_strPassword;
        bReplay = m_reconnect.bReplayAlarms;
    }
    std::lock_guard<CReqMutex> lock(m_reqLock);
    if (m_bClosing) return false;
    std::map<CString, SNDrvInfoEx> fresh;
    if (Login(host, user.c_str(), password.c_str(), fresh) != 0) {
        StopSock();
        return false;
    }
    m_bConnect = true;
    ReattachDrivers(fresh);
    bool ok = true;
    for (auto& entry : m_mapDrvInfos) {
        if (entry.second.spDriver && !ReadviseDriver(*entry.second.spDriver, resync)) {
            ok = false;
            break;
        }
    }
    void* fn = m_rtAlarmNotifyFn.load(std::memory_order_acquire);
    std::vector<S2RtAlarm2> active;
    if (ok && fn != nullptr && BeginRequest() && ReqAlarmSubscribe(bReplay ? &active : nullptr)) {
        for (const S2RtAlarm2& alarm : active)
            resync.AddAlarm(fn, alarm);
    }
    // A failed step ends the attempt; an owner's disconnect that came
    // meanwhile waits for this lock: it wins.
    if (!ok || !m_bConnect || m_bClosing) {
        m_bConnect = false;
        StopSock();
        resync.Reset();
        return false;
    }
    return true;
}

void CDBCore::ReattachDrivers(std::map<CString, SNDrvInfoEx>& fresh) {
    for (SDriverSlot& slot : m_pDrivers)
        slot.p.store(nullptr);
    m_pDrivers.clear();
    m_pDrivers.resize(fresh.size());
    for (auto& entry : m_mapDrvInfos) {
        std::shared_ptr<CDBDriver> drv = entry.second.spDriver;
        if (!drv) continue;
        auto it = fresh.find(entry.first);
        // A driver whose table no longer fits cannot take its tags' changes.
        if (it == fresh.end() || it->second.id >= m_pDrivers.size() ||
            m_pDrivers[it->second.id].p.load() != nullptr ||
            it->second.tagNum != drv->GetTagCount()) {
            drv->Detach();
            continue;
        }
        drv->m_drvId = it->second.id;
        m_pDrivers[it->second.id].p.store(drv.get(), std::memory_order_release);
        it->second.pDriver = drv.get();
        it->second.spDriver = drv;
    }
    m_mapDrvInfos.swap(fresh);
}

bool CDBCore::ReadviseDriver(CDBDriver& drv, CNotifyBatch& resync) {
    std::string names;
    {
        std::lock_guard<std::mutex> tagLock(drv.m_tagLock);
        for (CDBDriver::STag& tag : drv.m_tags) {
            if (!tag.bSubscribe) continue;
            tag.bSubscribe = false;
            if (tag.strTag.empty()) continue;
            if (!names.empty()) names += ',';
            names += tag.strTag;
        }
    }
    // Positions are the server's to tell again.
    drv.m_mapTagToId.clear();
    if (names.empty()) return true;
    if (!drv._ConnectTag(names.c_str())) return false;
    void* fn = drv.m_tagNotifyFn.load(std::memory_order_acquire);
    if (fn == nullptr) return true;
    std::lock_guard<std::mutex> tagLock(drv.m_tagLock);
    for (const CDBDriver::STag& tag : drv.m_tags) {
        if (!tag.bSubscribe) continue;
        SNotifyItem& item = resync.Add();
        item.kind = SNotifyItem::kTagChange;
        item.pDriver = &drv;
        item.fn = fn;
        item.pos = tag.id;
        item.value = tag.value;
    }
    return true;
}
