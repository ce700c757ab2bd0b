#include "NodeAsync.h"

#include "NodeDBCore.h"

namespace {

void Execute(napi_env, void* data) {
    static_cast<SNodeJob*>(data)->Execute();
}

void StartNext(napi_env env, DbCore& core) {
    while (!core.m_jobs.empty()) {
        SNodeJob* job = core.m_jobs.front();
        if (napi_queue_async_work(env, job->work) == napi_ok) return;
        // Cannot run: it fails, and the next one is tried.
        core.m_jobs.pop_front();
        napi_value error;
        napi_create_string_utf8(env, "the call could not be queued", NAPI_AUTO_LENGTH, &error);
        napi_reject_deferred(env, job->deferred, error);
        napi_delete_async_work(env, job->work);
        napi_reference_unref(env, core.m_wrapper, nullptr);
        delete job;
    }
}

void Complete(napi_env env, napi_status status, void* data) {
    SNodeJob* job = static_cast<SNodeJob*>(data);
    DbCore& core = *job->core;
    core.m_jobs.pop_front();  // it is the front one: they run in order
    napi_value result = nullptr;
    if (status == napi_ok) result = job->Result(env);
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (pending) {
        napi_value error;
        napi_get_and_clear_last_exception(env, &error);
        napi_reject_deferred(env, job->deferred, error);
    } else {
        napi_resolve_deferred(env, job->deferred, result != nullptr ? result : Undefined(env));
    }
    napi_delete_async_work(env, job->work);
    delete job;
    StartNext(env, core);
    // Last: the DbCore may be collected once nothing else holds it.
    napi_reference_unref(env, core.m_wrapper, nullptr);
}

}  // namespace

napi_value QueueJob(napi_env env, DbCore& core, SNodeJob* job) {
    job->core = &core;
    napi_value promise, name;
    if (!NapiOk(env, napi_create_promise(env, &job->deferred, &promise)) ||
        !NapiOk(env, napi_create_string_utf8(env, "QxDBAccess", NAPI_AUTO_LENGTH, &name)) ||
        !NapiOk(env,
                napi_create_async_work(env, nullptr, name, Execute, Complete, job, &job->work)) ||
        !NapiOk(env, napi_reference_ref(env, core.m_wrapper, nullptr))) {
        if (job->work != nullptr) napi_delete_async_work(env, job->work);
        delete job;
        return nullptr;
    }
    core.m_jobs.push_back(job);
    if (core.m_jobs.size() == 1) StartNext(env, core);
    return promise;
}

napi_value Resolved(napi_env env, napi_value value) {
    napi_deferred deferred;
    napi_value promise;
    if (!NapiOk(env, napi_create_promise(env, &deferred, &promise)) ||
        !NapiOk(env, napi_resolve_deferred(env, deferred, value)))
        return nullptr;
    return promise;
}
