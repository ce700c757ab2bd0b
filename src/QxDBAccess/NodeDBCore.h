// DbCore: the DBCore object of the Node addon. The receive thread never
// touches JavaScript: it copies each batch (one read of the notification
// connection: tag changes and alarms, in the server's order) and queues it
// whole to one thread-safe function, which calls the script's functions on
// the JavaScript thread. At most kMaxQueuedBatches wait there; a full queue
// holds the receive thread back, so the server meets TCP back-pressure
// rather than the process growing without bound.
#ifndef QX_NODEDBCORE_H
#define QX_NODEDBCORE_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DBCore.h"
#include "NodeApi.h"

const size_t kMaxQueuedBatches = 64;

// A script's function, kept by its DbCore for the DbCore's life. For a tag
// callback also the UTF-8 names it is called with, made once each on the
// JavaScript thread.
struct SNodeCallback {
    napi_ref fn = nullptr;
    std::string drvName;
    std::vector<std::string> tagNames;  // by position; empty until used
    std::vector<bool> bTagName;
};

// What the receive thread and the JavaScript thread share about one
// DbCore's deliveries. The DbCore and its thread-safe function each hold
// it; either may go first (at the environment's end the function is
// finalised before the DbCore), so batches still queued find it and are
// dropped, and nothing is queued to a function that is gone.
struct SNodeDelivery {
    std::mutex lock;  // guards everything but pCore; held while queuing
    std::condition_variable room;
    size_t nQueued = 0;
    bool bClosed = false;     // nothing more is queued
    bool bFinalized = false;  // the thread-safe function is gone
    int nHolders = 2;
    std::atomic<class DbCore*> pCore{nullptr};  // null once the DbCore is gone
    napi_threadsafe_function tsfn = nullptr;
};

class DbCore : public CDBCore {
public:
    explicit DbCore(napi_env env);
    ~DbCore() override;

    void OnNotifyBatch(const CNotifyBatch& batch) override;
    // Tells the JavaScript thread that deliveries have ended, so that they
    // stop holding the event loop open.
    void OnReceiveEnd() override;
    // JavaScript thread, connected: deliveries hold the event loop open.
    void HoldEventLoop();
    // The replay of _SetRtAlarmNotify: called at once on the JavaScript
    // thread; from a promise's worker thread it goes through the deliveries.
    void FireRtAlarm(void* fn, const S2RtAlarm2& alarm) override;

    // JavaScript thread: keeps fn until this object goes, and makes sure the
    // deliveries have their thread-safe function. Null when it cannot.
    SNodeCallback* KeepCallback(napi_value fn);
    // Lets go of a callback that was never registered.
    void DropCallback(SNodeCallback* cb);
    // Any thread: no further batch is queued, and a receive thread waiting
    // for room goes on (and drops what it holds).
    void StopDelivery();
    // The environment is going away: stop the receive thread now.
    static void OnEnvCleanup(void* arg);
    // JavaScript thread: delivers the batches held while paused, in order,
    // until a function pauses again.
    void ResumeDelivery(napi_env env);

    napi_env m_env;
    napi_ref m_wrapper = nullptr;
    std::thread::id m_jsThread;
    bool m_bStateFn = false;  // a state function is registered
    // Paused (JavaScript thread only): arriving batches are held, still
    // counted as queued, so that the receive thread waits once the queue is
    // full and the server meets back-pressure.
    bool m_bPaused = false;
    std::deque<struct SNodeBatch*> m_held;
    // The promise calls waiting, the running one first (JavaScript thread).
    std::deque<struct SNodeJob*> m_jobs;

private:
    bool EnsureDelivery();
    // Waits for room (unless bNoWait) and queues b; false (b not queued)
    // once stopped.
    bool Queue(SNodeDelivery* d, struct SNodeBatch* b, bool bNoWait);
    std::vector<SNodeCallback*> m_callbacks;
    SNodeDelivery* m_delivery = nullptr;
    std::atomic<SNodeDelivery*> m_liveDelivery{nullptr};  // as the receive thread sees it
};

// Registers fn as drv's tag-change callback, unless drv has one; anything
// but a function registers nothing.
void SetCBFunc(DbCore& core, CDBDriver& drv, napi_value fn);

// The call-JavaScript function of the deliveries: one batch, item by item.
void OnCallJavaScript(napi_env env, napi_value jsCallback, void* context, void* data);
// One batch taken off the queue: delivered, or held while paused.
void DeliverBatch(napi_env env, SNodeDelivery* d, struct SNodeBatch* b);
// One alarm to its function, with the DbCore's lists.
void OnNotifyRtAlarm(napi_env env, napi_value fn, DbCore* core, const S2RtAlarm2& alarm);

#endif  // QX_NODEDBCORE_H
