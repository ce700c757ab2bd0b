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

#endif  // QX_NODEAPI_H
