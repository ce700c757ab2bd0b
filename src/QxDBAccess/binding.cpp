// The Node addon QxDBAccess.node: the class DBCore and the driver objects
// that its GetDriver makes.
#include <memory>

#include "NodeDBCore.h"
#include "NodeValue.h"

namespace {

const size_t kHostBuf = 128;
const size_t kUserBuf = 36;
const size_t kNameBuf = 128;
const size_t kTagsBuf = 2048;

// Per environment (the main thread and every worker load the addon).
struct SInstance {
    napi_ref constructor = nullptr;
};

void FinalizeInstance(napi_env env, void* data, void*) {
    SInstance* inst = static_cast<SInstance*>(data);
    if (inst->constructor != nullptr) napi_delete_reference(env, inst->constructor);
    delete inst;
}

// What a driver object's four functions share: a hold on the driver and
// its DbCore. Each function carries the DBCore object in a property of its
// own, so that the DBCore lives while any of them can be called, and goes
// in the same collection as the last of them. The last of the four to be
// collected lets go of the hold.
struct SDrvHold {
    std::shared_ptr<CDBDriver> drv;
    DbCore* core = nullptr;
    int nFunctions = 0;
};

void FinalizeDrvFunction(napi_env, void* data, void*) {
    SDrvHold* hold = static_cast<SDrvHold*>(data);
    if (--hold->nFunctions == 0) delete hold;
}

napi_value Undefined(napi_env env) {
    napi_value u = nullptr;
    napi_get_undefined(env, &u);
    return u;
}

napi_value Number(napi_env env, int n) {
    napi_value v = nullptr;
    return NapiOk(env, napi_create_int32(env, n, &v)) ? v : nullptr;
}

// A string argument into a buffer of n bytes, cut to n - 1.
bool GetString(napi_env env, napi_value v, char* buf, size_t n) {
    size_t len = 0;
    return NapiOk(env, napi_get_value_string_utf8(env, v, buf, n, &len));
}

// The arguments of a call: up to N of them, their count, this, the data.
template <size_t N>
struct SArgs {
    napi_value argv[N];
    size_t argc = N;
    napi_value self = nullptr;
    void* data = nullptr;
    bool Get(napi_env env, napi_callback_info info) {
        return NapiOk(env, napi_get_cb_info(env, info, &argc, argv, &self, &data));
    }
};

DbCore* Unwrap(napi_env env, napi_value self) {
    void* p = nullptr;
    return NapiOk(env, napi_unwrap(env, self, &p)) ? static_cast<DbCore*>(p) : nullptr;
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

napi_value Connect(napi_env env, napi_callback_info info) {
    SArgs<3> a;
    if (!a.Get(env, info)) return nullptr;
    DbCore* core = Unwrap(env, a.self);
    if (core == nullptr) return nullptr;
    if (a.argc < 3) return Number(env, -3);
    char host[kHostBuf], user[kUserBuf], password[kUserBuf];
    if (!GetString(env, a.argv[0], host, sizeof host) ||
        !GetString(env, a.argv[1], user, sizeof user) ||
        !GetString(env, a.argv[2], password, sizeof password))
        return nullptr;
    CString strHost(host);
    int ret = core->_Connect(strHost, user, password);
    if (ret == 0) core->HoldEventLoop();
    return Number(env, ret);
}

napi_value KeepALive(napi_env env, napi_callback_info) {
    return Undefined(env);
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

// A plain object with the four driver functions, each finding the driver
// in its own data, so that a function detached from the object works.
napi_value MakeDriverObject(napi_env env, std::shared_ptr<CDBDriver> drv, DbCore* core,
                            napi_value coreObj) {
    static const struct {
        const char* name;
        napi_callback cb;
    } kFunctions[] = {{"SetTagNotify", DrvSetTagNotify},
                      {"ConnectTag", DrvConnectTag},
                      {"GetTagValue", DrvGetTagValue},
                      {"SetTagValue", DrvSetTagValue}};
    napi_value obj, key;
    if (!NapiOk(env, napi_create_object(env, &obj)) ||
        !NapiOk(env, napi_create_symbol(env, nullptr, &key)))
        return nullptr;
    SDrvHold* hold = new SDrvHold;
    hold->drv = std::move(drv);
    hold->core = core;
    const napi_property_descriptor keep = {nullptr, key,     nullptr,      nullptr,
                                           nullptr, coreObj, napi_default, nullptr};
    napi_property_descriptor props[4];
    for (size_t i = 0; i < 4; i++) {
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
    if (!NapiOk(env, napi_define_properties(env, obj, 4, props))) return nullptr;
    return obj;
}

napi_value GetDriver(napi_env env, napi_callback_info info) {
    SArgs<1> a;
    if (!a.Get(env, info)) return nullptr;
    DbCore* core = Unwrap(env, a.self);
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
    if (!a.Get(env, info)) return nullptr;
    DbCore* core = Unwrap(env, a.self);
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

}  // namespace

namespace DbCoreClass {

napi_value Init(napi_env env, napi_value exports) {
    napi_property_descriptor props[] = {
        {"Connect", nullptr, Connect, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"KeepALive", nullptr, KeepALive, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"GetDriver", nullptr, GetDriver, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"SetRtAlarmNotify", nullptr, SetRtAlarmNotify, nullptr, nullptr, nullptr, napi_default,
         nullptr},
    };
    napi_value cls;
    if (!NapiOk(env,
                napi_define_class(env, "DBCore", NAPI_AUTO_LENGTH, New, nullptr, 4, props, &cls)))
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
