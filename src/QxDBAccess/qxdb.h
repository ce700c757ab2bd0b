// The flat layer between the Python module's glue and the core: untyped
// handles, text and numbers, so that the glue never sees the core's classes.
// Caller holds the interpreter lock; every call that waits on the server
// releases it meanwhile.
//
// Handles: pDB is one DBCore object, pDrv one script's hold on a driver.
// A driver hold keeps the driver alive, not its DBCore object; each call
// through it keeps the DBCore object alive until the call returns.
#ifndef QX_QXDB_H
#define QX_QXDB_H

#include <Python.h>

// Null when out of memory.
void* _DBCoreNew(void);
// Disconnects (releasing the interpreter lock while the receive thread
// ends), lets go of the callables and destroys the object. Null is ignored.
void _DBCoreDelete(void* pDB);
int _DBConnect(void* pDB, const char* szHost, const char* szUserName, const char* szPassword);
// A new hold on the driver of that UTF-8 name, or null.
void* _DBGetDriver(void* pDB, const char* szDriver);
void _DBSetRtAlarmNotify(void* pDB, PyObject* fn, int notifyExisting);
// Disconnects (the interpreter lock released meanwhile); drivers then fail
// their calls, as after a lost connection.
void _DBDisconnect(void* pDB);
int _DBIsConnected(void* pDB);
// A new str: why the last connect or request failed; "" before any.
PyObject* _DBLastError(void* pDB);
// "unconnected", "connecting", "connected", "reconnecting" or "closed".
const char* _DBGetState(void* pDB);
// Registers fn(state) unless a state callable is registered already.
void _DBSetStateNotify(void* pDB, PyObject* fn);
// Delays in seconds; they are clamped to 1 ms .. 1 h.
void _DBSetAutoReconnect(void* pDB, int enabled, double initialDelay, double maxDelay,
                         int maxAttempts, int replayAlarms);

// Ends a hold from _DBGetDriver. Null is ignored.
void _DrvDelete(void* pDrv);
// The calls below accept a null pDrv, and a driver whose connection ended:
// 0, None and -2, and registering nothing.
int _DrvConnectTag(void* pDrv, const char* szTag);
PyObject* _DrvGetTagValue(void* pDrv, const char* szTag);
int _DrvSetTagValue(void* pDrv, const char* szTag, PyObject* objValues);
void _DrvSetTagNotify(void* pDrv, PyObject* fn);
// fn(driver, [(tag, value), ...]) once per read, for the same changes; with
// itemType (a tuple type, or null) the items are itemType(driver, tag, value).
void _DrvSetTagBatchNotify(void* pDrv, PyObject* fn, PyTypeObject* itemType);

#endif  // QX_QXDB_H
