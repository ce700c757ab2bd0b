#include "NodeDriver.h"

#include <string>
#include <vector>

#include "NodeAsync.h"
#include "NodeDBCore.h"
#include "NodeValue.h"

namespace {

const size_t kTagsBuf = 2048;

// What a driver object's functions share: a hold on the driver and its
// DbCore. Each function carries the DBCore object in a property of its own,
// so that the DBCore lives while any of them can be called, and goes in the
// same collection as the last of them. The last of them to be collected
// lets go of the hold.
struct SDrvHold {
    std::shared_ptr<CDBDriver> drv;
    DbCore* core = nullptr;
    int nFunctions = 0;
};

void FinalizeDrvFunction(napi_env, void* data, void*) {
    SDrvHold* hold = static_cast<SDrvHold*>(data);
    if (--hold->nFunctions == 0) delete hold;
}

// A driver function's call: its arguments and the hold in its data.
template <size_t N>
struct SDrvCall : SArgs<N> {
    SDrvHold* Hold() const { return static_cast<SDrvHold*>(this->data); }
};

// The names argument, in core text.
bool TagsArg(napi_env env, napi_value v, CString& tags) {
    char buf[kTagsBuf];
    if (!GetString(env, v, buf, sizeof buf)) return false;
    tags = TagNamesFromUtf8(buf);
    return true;
}

napi_value DrvSetTagNotify(napi_env env, napi_callback_info info) {
    SDrvCall<1> a;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc >= 1) SetCBFunc(*a.Hold()->core, *a.Hold()->drv, a.argv[0]);
    return Undefined(env);
}

napi_value DrvConnectTag(napi_env env, napi_callback_info info) {
    SDrvCall<1> a;
    CString tags;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc < 1) return Undefined(env);
    if (!TagsArg(env, a.argv[0], tags)) return nullptr;
    a.Hold()->drv->_ConnectTag(tags);
    return Undefined(env);
}

napi_value DrvGetTagValue(napi_env env, napi_callback_info info) {
    SDrvCall<1> a;
    CString tags;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc < 1) return Undefined(env);
    if (!TagsArg(env, a.argv[0], tags)) return nullptr;
    napi_value v = GetTagValue(env, *a.Hold()->drv, tags);
    return v != nullptr ? v : Undefined(env);
}

napi_value DrvSetTagValue(napi_env env, napi_callback_info info) {
    SDrvCall<2> a;
    CString tags;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc < 2) return Number(env, -3);
    if (!TagsArg(env, a.argv[0], tags)) return nullptr;
    return Number(env, SetTagValue(env, *a.Hold()->drv, tags, a.argv[1]));
}

// The promise versions: the same arguments and results, settled later.
struct SDrvJob : SNodeJob {
    std::shared_ptr<CDBDriver> drv;
    CString tags;
};

struct SConnectTagJob : SDrvJob {
    bool ok = false;
    void Execute() override { ok = drv->_ConnectTag(tags); }
    napi_value Result(napi_env env) override { return Boolean(env, ok); }
};

struct SGetTagValueJob : SDrvJob {
    bool ok = false;
    std::vector<SReadValue> values;
    void Execute() override { ok = ReadTagValues(*drv, tags, values); }
    napi_value Result(napi_env env) override {
        return ok ? ReadValuesToValue(env, values) : nullptr;
    }
};

struct SSetTagValueJob : SDrvJob {
    CEncodedTagValues values;
    int ret = kWriteNotSent;
    void Execute() override { ret = drv->SetTagValue(tags, values); }
    napi_value Result(napi_env env) override { return Number(env, ret); }
};

// Queues job for a driver call with the names in argv[0]; undefined
// (resolved) when the names are missing.
template <class Job>
napi_value QueueDrvJob(napi_env env, const SDrvCall<2>& a, Job* job) {
    if (!TagsArg(env, a.argv[0], job->tags)) {
        delete job;
        return nullptr;
    }
    job->drv = a.Hold()->drv;
    return QueueJob(env, *a.Hold()->core, job);
}

napi_value DrvConnectTagAsync(napi_env env, napi_callback_info info) {
    SDrvCall<2> a;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc < 1) return Resolved(env, Boolean(env, false));
    return QueueDrvJob(env, a, new SConnectTagJob);
}

napi_value DrvGetTagValueAsync(napi_env env, napi_callback_info info) {
    SDrvCall<2> a;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc < 1) return Resolved(env, Undefined(env));
    return QueueDrvJob(env, a, new SGetTagValueJob);
}

napi_value DrvSetTagValueAsync(napi_env env, napi_callback_info info) {
    SDrvCall<2> a;
    if (!a.Get(env, info)) return nullptr;
    if (a.argc < 2) return Resolved(env, Number(env, -3));
    SSetTagValueJob* job = new SSetTagValueJob;
    EncodeValues(env, a.argv[1], job->values);  // here, where the values can be read
    return QueueDrvJob(env, a, job);
}

}  // namespace

napi_value MakeDriverObject(napi_env env, std::shared_ptr<CDBDriver> drv, DbCore* core,
                            napi_value coreObj) {
    static const struct {
        const char* name;
        napi_callback cb;
    } kFunctions[] = {
        {"SetTagNotify", DrvSetTagNotify},        {"ConnectTag", DrvConnectTag},
        {"GetTagValue", DrvGetTagValue},          {"SetTagValue", DrvSetTagValue},
        {"ConnectTagAsync", DrvConnectTagAsync},  {"GetTagValueAsync", DrvGetTagValueAsync},
        {"SetTagValueAsync", DrvSetTagValueAsync}};
    const size_t kCount = sizeof kFunctions / sizeof kFunctions[0];
    napi_value obj, key;
    if (!NapiOk(env, napi_create_object(env, &obj)) ||
        !NapiOk(env, napi_create_symbol(env, nullptr, &key)))
        return nullptr;
    SDrvHold* hold = new SDrvHold;
    hold->drv = std::move(drv);
    hold->core = core;
    const napi_property_descriptor keep = {nullptr, key,     nullptr,      nullptr,
                                           nullptr, coreObj, napi_default, nullptr};
    napi_property_descriptor props[kCount];
    for (size_t i = 0; i < kCount; i++) {
        napi_value fn;
        if (!NapiOk(env, napi_create_function(env, kFunctions[i].name, NAPI_AUTO_LENGTH,
                                              kFunctions[i].cb, hold, &fn)) ||
            !NapiOk(env,
                    napi_add_finalizer(env, fn, hold, FinalizeDrvFunction, nullptr, nullptr))) {
            if (hold->nFunctions == 0) delete hold;
            return nullptr;
        }
        hold->nFunctions++;
        if (!NapiOk(env, napi_define_properties(env, fn, 1, &keep))) return nullptr;
        props[i] = napi_property_descriptor{
            kFunctions[i].name, nullptr, nullptr, nullptr, nullptr, fn, napi_default, nullptr};
    }
    if (!NapiOk(env, napi_define_properties(env, obj, kCount, props))) return nullptr;
    return obj;
}
