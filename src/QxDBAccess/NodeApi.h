// Node-API as the addon uses it: the version it targets, and the error rule
// of every call it makes.
#ifndef QX_NODEAPI_H
#define QX_NODEAPI_H

#define NAPI_VERSION 8
#include <node_api.h>

// True for napi_ok. Otherwise throws an Error carrying Node-API's own
// message for the failure ("empty error message" when it has none), unless
// an exception is pending already, and returns false.
bool NapiOk(napi_env env, napi_status status);

napi_value Undefined(napi_env env);
// Null, with an exception thrown, when the value cannot be made.
napi_value Number(napi_env env, int n);
napi_value Boolean(napi_env env, bool b);
// A string argument into a buffer of n bytes, cut to n - 1.
bool GetString(napi_env env, napi_value v, char* buf, size_t n);

// The arguments of a call: up to N of them, their count, this, the data.
template <size_t N>
struct SArgs {
    napi_value argv[N > 0 ? N : 1];
    size_t argc = N;
    napi_value self = nullptr;
    void* data = nullptr;
    bool Get(napi_env env, napi_callback_info info) {
        return NapiOk(env,
                      napi_get_cb_info(env, info, &argc, N > 0 ? argv : nullptr, &self, &data));
    }
};

#endif  // QX_NODEAPI_H
