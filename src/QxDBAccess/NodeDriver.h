// The driver objects of the Node addon: plain objects whose functions each
// find the driver in their own data, so that a function detached from the
// object works. The ...Async functions return promises (see NodeAsync.h).
#ifndef QX_NODEDRIVER_H
#define QX_NODEDRIVER_H

#include <memory>

#include "NodeApi.h"

class CDBDriver;
class DbCore;

// A new driver object for drv of core, whose JavaScript object is coreObj:
// each function keeps coreObj alive.
napi_value MakeDriverObject(napi_env env, std::shared_ptr<CDBDriver> drv, DbCore* core,
                            napi_value coreObj);

#endif  // QX_NODEDRIVER_H
