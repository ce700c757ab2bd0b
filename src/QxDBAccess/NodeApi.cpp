#include "NodeApi.h"

#include <string>

bool NapiOk(napi_env env, napi_status status) {
    if (status == napi_ok) return true;
    const napi_extended_error_info* info = nullptr;
    napi_get_last_error_info(env, &info);
    // Read before any further call: the next one clears it.
    std::string msg = info != nullptr && info->error_message != nullptr ? info->error_message : "";
    if (msg.empty()) msg = "empty error message";
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) napi_throw_error(env, nullptr, msg.c_str());
    return false;
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

napi_value Boolean(napi_env env, bool b) {
    napi_value v = nullptr;
    return NapiOk(env, napi_get_boolean(env, b, &v)) ? v : nullptr;
}

bool GetString(napi_env env, napi_value v, char* buf, size_t n) {
    size_t len = 0;
    return NapiOk(env, napi_get_value_string_utf8(env, v, buf, n, &len));
}
