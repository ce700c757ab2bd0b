#include "NodeDBCore.h"

#include <chrono>

#include "NodeValue.h"

namespace {

// A batch as it waits in the queue: copies of the values, and a hold on
// each driver it names, so that a driver released meanwhile stays alive.
struct SNodeItem {
    SNotifyItem::EKind kind;
    CDBDriver* pDriver;
    SNodeCallback* fn;
    WORD pos;
    XVariant value;
    S2RtAlarm2 alarm;
    EDBState state;
};

}  // namespace

struct SNodeBatch {
    std::vector<SNodeItem> items;
    std::vector<std::shared_ptr<CDBDriver>> keep;
    bool bEnd = false;  // no items: the receive thread has ended
    size_t next = 0;    // the first item not delivered yet
};

namespace {

void LetGo(SNodeDelivery* d) {
    bool bLast;
    {
        std::lock_guard<std::mutex> lock(d->lock);
        bLast = --d->nHolders == 0;
    }
    if (bLast) delete d;
}

void FinalizeDelivery(napi_env, void* data, void*) {
    SNodeDelivery* d = static_cast<SNodeDelivery*>(data);
    {
        std::lock_guard<std::mutex> lock(d->lock);
        d->bFinalized = true;
        d->bClosed = true;
        d->room.notify_all();
    }
    LetGo(d);
}

// An exception from a script's function is the script's own: it is
// reported as uncaught, as Node reports one from any event.
void CallScript(napi_env env, napi_value fn, size_t argc, const napi_value* argv) {
    napi_value global, result;
    if (napi_get_global(env, &global) != napi_ok) return;
    if (napi_call_function(env, global, fn, argc, argv, &result) == napi_pending_exception) {
        napi_value error;
        if (napi_get_and_clear_last_exception(env, &error) == napi_ok)
            napi_fatal_exception(env, error);
    }
}

const std::string& TagNameOf(SNodeCallback& cb, CDBDriver& drv, WORD pos) {
    if (cb.tagNames.size() <= pos) {
        size_t n = drv.GetTagCount() > pos ? drv.GetTagCount() : pos + 1u;
        cb.tagNames.resize(n);
        cb.bTagName.resize(n);
    }
    if (!cb.bTagName[pos]) {
        cb.tagNames[pos] = CT2UTF8(drv.TagName(pos).c_str());
        cb.bTagName[pos] = true;
    }
    return cb.tagNames[pos];
}

void CallTagNotify(napi_env env, SNodeCallback& cb, CDBDriver& drv, WORD pos,
                   const XVariant& value) {
    napi_value fn, argv[3];
    if (napi_get_reference_value(env, cb.fn, &fn) != napi_ok || fn == nullptr) return;
    if (cb.drvName.empty()) cb.drvName = CT2UTF8(drv.m_strDriver.c_str());
    const std::string& tag = TagNameOf(cb, drv, pos);
    if (napi_create_string_utf8(env, cb.drvName.data(), cb.drvName.size(), &argv[0]) != napi_ok ||
        napi_create_string_utf8(env, tag.data(), tag.size(), &argv[1]) != napi_ok)
        return;
    argv[2] = ValueToValue(env, value);
    if (argv[2] == nullptr && napi_get_undefined(env, &argv[2]) != napi_ok) return;
    CallScript(env, fn, 3, argv);
}

}  // namespace

DbCore::DbCore(napi_env env) : m_env(env), m_jsThread(std::this_thread::get_id()) {
    napi_add_env_cleanup_hook(env, OnEnvCleanup, this);
}

DbCore::~DbCore() {
    StopDelivery();
    _Disconnect();  // the receive thread has ended when this returns
    if (m_delivery != nullptr) {
        m_delivery->pCore = nullptr;
        // Batches still queued are dropped as they come.
        bool bFinalized;
        {
            std::lock_guard<std::mutex> lock(m_delivery->lock);
            bFinalized = m_delivery->bFinalized;
        }
        if (!bFinalized) napi_release_threadsafe_function(m_delivery->tsfn, napi_tsfn_release);
        LetGo(m_delivery);
    }
    for (SNodeBatch* b : m_held)
        delete b;
    for (SNodeCallback* cb : m_callbacks) {
        napi_delete_reference(m_env, cb->fn);
        delete cb;
    }
    if (m_wrapper != nullptr) napi_delete_reference(m_env, m_wrapper);
    napi_remove_env_cleanup_hook(m_env, OnEnvCleanup, this);
}

void DbCore::OnEnvCleanup(void* arg) {
    DbCore* core = static_cast<DbCore*>(arg);
    core->StopDelivery();
    core->_Disconnect();
}

bool DbCore::EnsureDelivery() {
    if (m_delivery != nullptr) return true;
    SNodeDelivery* d = new SNodeDelivery;
    d->pCore = this;
    napi_value name;
    if (napi_create_string_utf8(m_env, "db_recv", NAPI_AUTO_LENGTH, &name) != napi_ok ||
        napi_create_threadsafe_function(m_env, nullptr, nullptr, name, 0, 1, d, FinalizeDelivery, d,
                                        OnCallJavaScript, &d->tsfn) != napi_ok) {
        delete d;
        return false;
    }
    m_delivery = d;
    m_liveDelivery.store(d, std::memory_order_release);
    // Until a connect, nothing is to come: the script may end.
    if (!IsConnected()) napi_unref_threadsafe_function(m_env, d->tsfn);
    return true;
}

SNodeCallback* DbCore::KeepCallback(napi_value fn) {
    napi_valuetype type;
    if (napi_typeof(m_env, fn, &type) != napi_ok || type != napi_function || !EnsureDelivery())
        return nullptr;
    SNodeCallback* cb = new SNodeCallback;
    if (napi_create_reference(m_env, fn, 1, &cb->fn) != napi_ok) {
        delete cb;
        return nullptr;
    }
    m_callbacks.push_back(cb);
    return cb;
}

void DbCore::DropCallback(SNodeCallback* cb) {
    for (size_t i = 0; i < m_callbacks.size(); i++) {
        if (m_callbacks[i] != cb) continue;
        m_callbacks.erase(m_callbacks.begin() + static_cast<long>(i));
        napi_delete_reference(m_env, cb->fn);
        delete cb;
        return;
    }
}

void DbCore::StopDelivery() {
    SNodeDelivery* d = m_liveDelivery.load(std::memory_order_acquire);
    if (d == nullptr) return;
    std::lock_guard<std::mutex> lock(d->lock);
    d->bClosed = true;
    d->room.notify_all();
}

void DbCore::OnNotifyBatch(const CNotifyBatch& batch) {
    // Every item has a callback, and a callback exists only once the
    // delivery does.
    SNodeDelivery* d = m_liveDelivery.load(std::memory_order_acquire);
    if (d == nullptr) return;
    SNodeBatch* b = new SNodeBatch;
    b->items.reserve(batch.Size());
    for (size_t i = 0; i < batch.Size(); i++) {
        const SNotifyItem& in = batch[i];
        b->items.push_back(SNodeItem{in.kind, in.pDriver, static_cast<SNodeCallback*>(in.fn),
                                     in.pos, in.value, in.alarm, in.state});
        if (in.pDriver != nullptr && (b->keep.empty() || b->keep.back().get() != in.pDriver))
            b->keep.push_back(in.pDriver->shared_from_this());
    }
    // A change of state comes alone, and may come from the JavaScript
    // thread itself (a connect, a disconnect): it never waits.
    const bool bState = batch.Size() == 1 && batch[0].kind == SNotifyItem::kState;
    if (!Queue(d, b, bState)) delete b;
}

bool DbCore::Queue(SNodeDelivery* d, SNodeBatch* b, bool bNoWait) {
    std::unique_lock<std::mutex> lock(d->lock);
    while (!bNoWait && !d->bClosed && d->nQueued >= kMaxQueuedBatches) {
        // The JavaScript thread may itself be ending this connection (a
        // Connect or a destruction joins this thread) and drains nothing
        // meanwhile: what a connection that has ended still held is dropped.
        if (!IsConnected()) return false;
        d->room.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (d->bClosed) return false;
    // Under the lock: the function cannot be finalised meanwhile.
    if (napi_call_threadsafe_function(d->tsfn, b, napi_tsfn_nonblocking) != napi_ok) return false;
    d->nQueued++;
    return true;
}

void DbCore::OnReceiveEnd() {
    SNodeDelivery* d = m_liveDelivery.load(std::memory_order_acquire);
    if (d == nullptr) return;
    // Queued past the bound, without waiting: the connection has ended, and
    // the JavaScript thread may be joining this thread.
    SNodeBatch* b = new SNodeBatch;
    b->bEnd = true;
    std::lock_guard<std::mutex> lock(d->lock);
    if (!d->bClosed &&
        napi_call_threadsafe_function(d->tsfn, b, napi_tsfn_nonblocking) == napi_ok) {
        d->nQueued++;
        return;
    }
    delete b;
}

void DbCore::HoldEventLoop() {
    if (m_delivery != nullptr) napi_ref_threadsafe_function(m_env, m_delivery->tsfn);
}

void DbCore::FireRtAlarm(void* fn, const S2RtAlarm2& alarm) {
    if (std::this_thread::get_id() != m_jsThread) {
        CNotifyBatch batch;
        batch.AddAlarm(fn, alarm);
        OnNotifyBatch(batch);
        return;
    }
    bool pending = false;
    napi_is_exception_pending(m_env, &pending);
    napi_value f;
    if (pending ||
        napi_get_reference_value(m_env, static_cast<SNodeCallback*>(fn)->fn, &f) != napi_ok)
        return;
    napi_value argv[10];
    if (!RAToArgs(m_env, argv, alarm, m_textList, m_tagList)) return;
    napi_value global, result;
    // Synchronous, inside SetRtAlarmNotify: an exception stops the replay
    // and leaves that call throwing.
    if (napi_get_global(m_env, &global) == napi_ok)
        napi_call_function(m_env, global, f, 10, argv, &result);
}

void SetCBFunc(DbCore& core, CDBDriver& drv, napi_value fn) {
    if (drv.m_tagNotifyFn.load() != nullptr || !drv.IsAttached()) return;
    SNodeCallback* cb = core.KeepCallback(fn);
    if (cb != nullptr && !drv.SetTagNotifyFn(cb, nullptr)) core.DropCallback(cb);
}

void OnNotifyRtAlarm(napi_env env, napi_value fn, DbCore* core, const S2RtAlarm2& alarm) {
    napi_value argv[10];
    if (!RAToArgs(env, argv, alarm, core->m_textList, core->m_tagList)) {
        napi_value error;
        napi_get_and_clear_last_exception(env, &error);
        return;
    }
    CallScript(env, fn, 10, argv);
}

void OnCallJavaScript(napi_env env, napi_value, void* context, void* data) {
    SNodeBatch* b = static_cast<SNodeBatch*>(data);
    if (env == nullptr) {  // torn down: the context may be gone already
        delete b;
        return;
    }
    SNodeDelivery* d = static_cast<SNodeDelivery*>(context);
    DbCore* core = d->pCore.load();
    if (core != nullptr && (core->m_bPaused || !core->m_held.empty())) {
        core->m_held.push_back(b);  // still counted: the receive thread waits when full
        return;
    }
    DeliverBatch(env, d, b);
}

void DbCore::ResumeDelivery(napi_env env) {
    m_bPaused = false;
    SNodeDelivery* d = m_delivery;
    while (d != nullptr && !m_bPaused && !m_held.empty()) {
        SNodeBatch* b = m_held.front();
        m_held.pop_front();
        DeliverBatch(env, d, b);  // may pause again, or let this object go
        if (d->pCore.load() != this) return;
    }
}

void DeliverBatch(napi_env env, SNodeDelivery* d, SNodeBatch* b) {
    if (b->next == 0) {
        std::lock_guard<std::mutex> lock(d->lock);
        d->nQueued--;
        d->room.notify_one();
    }
    if (b->bEnd) {
        // Until the next connect nothing arrives: a script that waits for
        // nothing else may end. A connect made meanwhile holds it again.
        DbCore* core = d->pCore.load();
        if (core != nullptr && !core->IsConnected()) napi_unref_threadsafe_function(env, d->tsfn);
        delete b;
        return;
    }
    // Checked again after each call: a script's function may have let the
    // DbCore go, or paused the deliveries (the rest of the batch then waits
    // at the head of the held ones).
    DbCore* core;
    while ((core = d->pCore.load()) != nullptr && b->next < b->items.size()) {
        if (core->m_bPaused) {
            core->m_held.push_front(b);
            return;
        }
        const SNodeItem& item = b->items[b->next++];
        if (item.kind == SNotifyItem::kRtAlarm) {
            napi_value fn;
            if (napi_get_reference_value(env, item.fn->fn, &fn) == napi_ok && fn != nullptr)
                OnNotifyRtAlarm(env, fn, core, item.alarm);
        } else if (item.kind == SNotifyItem::kState) {
            napi_value fn, arg;
            if (napi_get_reference_value(env, item.fn->fn, &fn) == napi_ok && fn != nullptr &&
                napi_create_string_utf8(env, DBStateName(item.state), NAPI_AUTO_LENGTH, &arg) ==
                    napi_ok)
                CallScript(env, fn, 1, &arg);
        } else {
            CallTagNotify(env, *item.fn, *item.pDriver, item.pos, item.value);
        }
    }
    delete b;
}
