// The Promise-returning calls of the addon. Each runs its network exchange
// on a libuv worker thread, one at a time per DbCore and in the order they
// were made, so that the JavaScript thread never waits on the server; the
// result becomes a JavaScript value back on the JavaScript thread. A DbCore
// with calls pending stays alive until they have settled.
#ifndef QX_NODEASYNC_H
#define QX_NODEASYNC_H

#include "NodeApi.h"

class DbCore;

struct SNodeJob {
    virtual ~SNodeJob() {}
    // Worker thread: the exchange; no JavaScript here.
    virtual void Execute() = 0;
    // JavaScript thread: what the promise resolves to (null: undefined).
    virtual napi_value Result(napi_env env) = 0;

    DbCore* core = nullptr;
    napi_deferred deferred = nullptr;
    napi_async_work work = nullptr;
};

// Queues job (which it then owns) on core; the promise, or null with an
// exception thrown.
napi_value QueueJob(napi_env env, DbCore& core, SNodeJob* job);

// A promise already resolved to value.
napi_value Resolved(napi_env env, napi_value value);

#endif  // QX_NODEASYNC_H
