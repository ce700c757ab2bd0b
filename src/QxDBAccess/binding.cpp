// The Node addon QxDBAccess.node: the class DBCore (the driver objects that
// its GetDriver makes are in NodeDriver.cpp).
#include <memory>
#include <string>

#include "NodeAsync.h"
#include "NodeDBCore.h"
#include "NodeDriver.h"
#include "NodeValue.h"

namespace {

const size_t kHostBuf = 128;
const size_t kUserBuf = 36;
const size_t kNameBuf = 128;

// Per environment (the main thread and every worker load the addon).
struct SInstance {
    napi_ref constructor = nullptr;
};

void FinalizeInstance(napi_env env, void* data, void*) {
    SInstance* inst = static_cast<SInstance*>(data);
    if (inst->constructor != nullptr) napi_delete_reference(env, inst->constructor);
    delete inst;
}

DbCore* Unwrap(napi_env env, napi_value self) {
    void* p = nullptr;
    return NapiOk(env, napi_unwrap(env, self, &p)) ? static_cast<DbCore*>(p) : nullptr;
}

// The arguments of a method call and its DbCore; null (an exception
// thrown) when either cannot be had.
template <size_t N>
DbCore* Begin(napi_env env, napi_callback_info info, SArgs<N>& a) {
    return a.Get(env, info) ? Unwrap(env, a.self) : nullptr;
}

void Destructor(napi_env, void* data, void*) {
    delete static_cast<DbCore*>(data);
}

napi_value New(napi_env env, napi_callback_info info) {
    napi_value target;
    if (!NapiOk(env, napi_get_new_target(env, info, &target))) return nullptr;
    if (target == nullptr) {  // DBCore() without new
        SInstance* inst = nullptr;
        napi_value ctor, obj;
        if (!NapiOk(env, napi_get_instance_data(env, reinterpret_cast<void**>(&inst))) ||
            !NapiOk(env, napi_get_reference_value(env, inst->constructor, &ctor)) ||
            !NapiOk(env, napi_new_instance(env, ctor, 0, nullptr, &obj)))
            return nullptr;
        return obj;
    }
    SArgs<0> a;
    if (!a.Get(env, info)) return nullptr;
    DbCore* core = new DbCore(env);
    if (!NapiOk(env, napi_wrap(env, a.self, core, Destructor, nullptr, &core->m_wrapper))) {
        delete core;
        return nullptr;
    }
    return a.self;
}

// The three arguments of a connect.
struct SLogin {
    char host[kHostBuf], user[kUserBuf], password[kUserBuf];
    bool Get(napi_env env, const napi_value* argv) {
        return GetString(env, argv[0], host, sizeof host) &&
               GetString(env, argv[1], user, sizeof user) &&
               GetString(env, argv[2], password, sizeof password);
    }
};

napi_value Connect(napi_env env, napi_callback_info info) {
    SArgs<3> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 3) return Number(env, -3);
    SLogin login;
    if (!login.Get(env, a.argv)) return nullptr;
    int ret = core->_Connect(CString(login.host), login.user, login.password);
    if (ret == 0) core->HoldEventLoop();
    return Number(env, ret);
}

napi_value KeepALive(napi_env env, napi_callback_info) {
    return Undefined(env);
}

napi_value GetDriver(napi_env env, napi_callback_info info) {
    SArgs<1> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 1) return Undefined(env);
    char name[kNameBuf];
    if (!GetString(env, a.argv[0], name, sizeof name)) return nullptr;
    std::shared_ptr<CDBDriver> drv = core->_GetDriver(CUTF82T(name));
    if (!drv) return Undefined(env);
    return MakeDriverObject(env, std::move(drv), core, a.self);
}

napi_value SetRtAlarmNotify(napi_env env, napi_callback_info info) {
    SArgs<2> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 2) return Number(env, -3);
    bool notifyExisting = false;
    if (!NapiOk(env, napi_get_value_bool(env, a.argv[1], &notifyExisting))) return nullptr;
    if (core->m_rtAlarmNotifyFn.load() != nullptr) return Number(env, -1);
    SNodeCallback* cb = core->KeepCallback(a.argv[0]);
    if (cb == nullptr) return Number(env, -3);  // not a function: nothing sent
    int ret = core->_SetRtAlarmNotify(cb, notifyExisting);
    if (ret != 0) core->DropCallback(cb);
    return Number(env, ret);
}

// The promise versions of the blocking methods.
struct SConnectJob : SNodeJob {
    SLogin login;
    int ret = -2;
    void Execute() override {
        ret = core->_Connect(CString(login.host), login.user, login.password);
    }
    napi_value Result(napi_env env) override {
        if (ret == 0) core->HoldEventLoop();
        return Number(env, ret);
    }
};

napi_value ConnectAsync(napi_env env, napi_callback_info info) {
    SArgs<3> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 3) return Resolved(env, Number(env, -3));
    SConnectJob* job = new SConnectJob;
    if (!job->login.Get(env, a.argv)) {
        delete job;
        return nullptr;
    }
    return QueueJob(env, *core, job);
}

struct SGetDriverJob : SNodeJob {
    std::string name;
    std::shared_ptr<CDBDriver> drv;
    void Execute() override { drv = core->_GetDriver(CUTF82T(name.c_str())); }
    napi_value Result(napi_env env) override {
        napi_value self;
        if (!drv || !NapiOk(env, napi_get_reference_value(env, core->m_wrapper, &self)))
            return nullptr;
        return MakeDriverObject(env, std::move(drv), core, self);
    }
};

napi_value GetDriverAsync(napi_env env, napi_callback_info info) {
    SArgs<1> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 1) return Resolved(env, Undefined(env));
    char name[kNameBuf];
    if (!GetString(env, a.argv[0], name, sizeof name)) return nullptr;
    SGetDriverJob* job = new SGetDriverJob;
    job->name = name;
    return QueueJob(env, *core, job);
}

struct SAlarmJob : SNodeJob {
    SNodeCallback* cb = nullptr;
    bool notifyExisting = false;
    int ret = -2;
    // The replay reaches the function through the deliveries, in order
    // before the alarms pushed after it.
    void Execute() override { ret = core->_SetRtAlarmNotify(cb, notifyExisting); }
    napi_value Result(napi_env env) override {
        if (ret != 0) core->DropCallback(cb);
        return Number(env, ret);
    }
};

napi_value SetRtAlarmNotifyAsync(napi_env env, napi_callback_info info) {
    SArgs<2> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 2) return Resolved(env, Number(env, -3));
    bool notifyExisting = false;
    if (!NapiOk(env, napi_get_value_bool(env, a.argv[1], &notifyExisting))) return nullptr;
    if (core->m_rtAlarmNotifyFn.load() != nullptr) return Resolved(env, Number(env, -1));
    SNodeCallback* cb = core->KeepCallback(a.argv[0]);
    if (cb == nullptr) return Resolved(env, Number(env, -3));
    SAlarmJob* job = new SAlarmJob;
    job->cb = cb;
    job->notifyExisting = notifyExisting;
    return QueueJob(env, *core, job);
}

// The additions: the connection's state, reconnect, and the deliveries'
// back-pressure.
napi_value Disconnect(napi_env env, napi_callback_info info) {
    SArgs<0> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    core->_Disconnect();
    return Undefined(env);
}

napi_value IsConnected(napi_env env, napi_callback_info info) {
    SArgs<0> a;
    DbCore* core = Begin(env, info, a);
    return core != nullptr ? Boolean(env, core->IsUp()) : nullptr;
}

napi_value MakeString(napi_env env, const std::string& text) {
    napi_value v;
    return NapiOk(env, napi_create_string_utf8(env, text.data(), text.size(), &v)) ? v : nullptr;
}

napi_value LastError(napi_env env, napi_callback_info info) {
    SArgs<0> a;
    DbCore* core = Begin(env, info, a);
    return core != nullptr ? MakeString(env, core->LastError()) : nullptr;
}

napi_value GetState(napi_env env, napi_callback_info info) {
    SArgs<0> a;
    DbCore* core = Begin(env, info, a);
    return core != nullptr ? MakeString(env, DBStateName(core->GetState())) : nullptr;
}

napi_value SetStateNotify(napi_env env, napi_callback_info info) {
    SArgs<1> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    if (a.argc < 1) return Boolean(env, false);
    // The first registration stays; anything but a function registers nothing.
    SNodeCallback* cb = core->m_bStateFn ? nullptr : core->KeepCallback(a.argv[0]);
    if (cb == nullptr) return Boolean(env, false);
    core->m_bStateFn = core->SetStateNotifyFn(cb);
    return Boolean(env, true);
}

// An optional number property of opts, in [0, 2^31).
bool IntOption(napi_env env, napi_value opts, const char* name, int& out) {
    bool has = false;
    napi_value v;
    if (!NapiOk(env, napi_has_named_property(env, opts, name, &has)) || !has) return true;
    if (!NapiOk(env, napi_get_named_property(env, opts, name, &v))) return false;
    napi_valuetype t;
    if (!NapiOk(env, napi_typeof(env, v, &t))) return false;
    if (t == napi_undefined) return true;
    double d = 0;
    if (t != napi_number || !NapiOk(env, napi_get_value_double(env, v, &d)) || !(d >= 0)) {
        napi_throw_range_error(env, nullptr,
                               (std::string(name) + " must be a number, not negative").c_str());
        return false;
    }
    out = d > 2147483647.0 ? 2147483647 : static_cast<int>(d);
    return true;
}

bool BoolOption(napi_env env, napi_value opts, const char* name, bool& out) {
    bool has = false;
    napi_value v;
    if (!NapiOk(env, napi_has_named_property(env, opts, name, &has)) || !has) return true;
    return NapiOk(env, napi_get_named_property(env, opts, name, &v)) &&
           NapiOk(env, napi_coerce_to_bool(env, v, &v)) &&
           NapiOk(env, napi_get_value_bool(env, v, &out));
}

napi_value SetAutoReconnect(napi_env env, napi_callback_info info) {
    SArgs<1> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    SReconnectSettings s;
    s.bEnabled = true;
    napi_valuetype t = napi_undefined;
    if (a.argc >= 1 && !NapiOk(env, napi_typeof(env, a.argv[0], &t))) return nullptr;
    if (t == napi_object) {
        napi_value o = a.argv[0];
        if (!BoolOption(env, o, "enabled", s.bEnabled) ||
            !IntOption(env, o, "initialDelay", s.nInitialDelayMs) ||
            !IntOption(env, o, "maxDelay", s.nMaxDelayMs) ||
            !IntOption(env, o, "maxAttempts", s.nMaxAttempts) ||
            !BoolOption(env, o, "replayAlarms", s.bReplayAlarms))
            return nullptr;
    } else if (t != napi_undefined) {
        napi_throw_type_error(env, nullptr, "the settings must be an object");
        return nullptr;
    }
    core->SetAutoReconnect(s);
    return Undefined(env);
}

napi_value PauseDelivery(napi_env env, napi_callback_info info) {
    SArgs<0> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    core->m_bPaused = true;
    return Undefined(env);
}

napi_value ResumeDelivery(napi_env env, napi_callback_info info) {
    SArgs<0> a;
    DbCore* core = Begin(env, info, a);
    if (core == nullptr) return nullptr;
    core->ResumeDelivery(env);
    return Undefined(env);
}

}  // namespace

namespace DbCoreClass {

napi_value Init(napi_env env, napi_value exports) {
    static const struct {
        const char* name;
        napi_callback cb;
    } kMethods[] = {
        {"Connect", Connect},
        {"KeepALive", KeepALive},
        {"GetDriver", GetDriver},
        {"SetRtAlarmNotify", SetRtAlarmNotify},
        {"ConnectAsync", ConnectAsync},
        {"GetDriverAsync", GetDriverAsync},
        {"SetRtAlarmNotifyAsync", SetRtAlarmNotifyAsync},
        {"Disconnect", Disconnect},
        {"IsConnected", IsConnected},
        {"LastError", LastError},
        {"GetState", GetState},
        {"SetStateNotify", SetStateNotify},
        {"SetAutoReconnect", SetAutoReconnect},
        {"PauseDelivery", PauseDelivery},
        {"ResumeDelivery", ResumeDelivery},
    };
    const size_t kCount = sizeof kMethods / sizeof kMethods[0];
    napi_property_descriptor props[kCount];
    for (size_t i = 0; i < kCount; i++) {
        props[i] = napi_property_descriptor{kMethods[i].name, nullptr, kMethods[i].cb, nullptr,
                                            nullptr,          nullptr, napi_default,   nullptr};
    }
    napi_value cls;
    if (!NapiOk(env, napi_define_class(env, "DBCore", NAPI_AUTO_LENGTH, New, nullptr, kCount, props,
                                       &cls)))
        return nullptr;
    SInstance* inst = new SInstance;
    if (!NapiOk(env, napi_create_reference(env, cls, 1, &inst->constructor)) ||
        !NapiOk(env, napi_set_instance_data(env, inst, FinalizeInstance, nullptr))) {
        delete inst;
        return nullptr;
    }
    if (!NapiOk(env, napi_set_named_property(env, exports, "DBCore", cls))) return nullptr;
    return exports;
}

}  // namespace DbCoreClass

static napi_value Init(napi_env env, napi_value exports) {
    return DbCoreClass::Init(env, exports);
}

static napi_module _module = {
    NAPI_MODULE_VERSION, 0, __FILE__, Init, "QxDBAccess", nullptr, {nullptr},
};

// Registers the addon for the environment that loads the library first.
__attribute__((constructor)) static void _register_QxDBAccess(void) {
    napi_module_register(&_module);
}

// Every later environment (a worker) finds the addon by the well-known
// initialiser: the library is loaded once, so the registration above does
// not run again.
extern "C" NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
    return Init(env, exports);
}

extern "C" NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) {
    return NAPI_VERSION;
}
