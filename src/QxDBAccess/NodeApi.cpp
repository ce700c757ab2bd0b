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
