#include "qxdb.h"

#include <memory>
#include <new>

#include "PyDBCore.h"
#include "PyValue.h"

namespace {

struct SPyDB {
    std::shared_ptr<CPyDBCore> sp;
};

struct SPyDrv {
    std::shared_ptr<CDBDriver> drv;
    std::weak_ptr<CPyDBCore> core;  // pinned for the length of each call
};

// The last hold on a DBCore object goes, the interpreter lock held: the
// receive thread may be waiting for that lock to finish a delivery, so the
// lock is let go while the thread ends.
void DeleteCore(CPyDBCore* p) {
    p->MuteState();
    Py_BEGIN_ALLOW_THREADS;
    p->_Disconnect();
    Py_END_ALLOW_THREADS;
    p->ReleaseCallbacks();
    delete p;
}

SPyDrv* Drv(void* pDrv) {
    return static_cast<SPyDrv*>(pDrv);
}

}  // namespace

void* _DBCoreNew(void) {
    CPyDBCore* core = new (std::nothrow) CPyDBCore();
    if (core == nullptr) return nullptr;
    SPyDB* h = new (std::nothrow) SPyDB;
    if (h == nullptr) {
        delete core;
        return nullptr;
    }
    h->sp.reset(core, DeleteCore);
    return h;
}

void _DBCoreDelete(void* pDB) {
    SPyDB* h = static_cast<SPyDB*>(pDB);
    if (h == nullptr) return;
    // Disconnects now, even while a driver's call still holds the object
    // (that call then fails at once and the object goes when it returns).
    CPyDBCore* core = h->sp.get();
    core->MuteState();  // nothing is told about an object going away
    Py_BEGIN_ALLOW_THREADS;
    core->_Disconnect();
    Py_END_ALLOW_THREADS;
    delete h;
}

int _DBConnect(void* pDB, const char* szHost, const char* szUserName, const char* szPassword) {
    CPyDBCore* core = static_cast<SPyDB*>(pDB)->sp.get();
    CString strHost(szHost ? szHost : "");
    int ret;
    Py_BEGIN_ALLOW_THREADS;
    ret = core->_Connect(strHost, szUserName, szPassword);
    Py_END_ALLOW_THREADS;
    return ret;
}

void* _DBGetDriver(void* pDB, const char* szDriver) {
    SPyDB* h = static_cast<SPyDB*>(pDB);
    CUTF82T name(szDriver ? szDriver : "");
    std::shared_ptr<CDBDriver> drv;
    Py_BEGIN_ALLOW_THREADS;
    drv = h->sp->_GetDriver(name);
    Py_END_ALLOW_THREADS;
    if (!drv) return nullptr;
    SPyDrv* d = new (std::nothrow) SPyDrv;
    if (d == nullptr) return nullptr;
    d->drv = std::move(drv);
    d->core = h->sp;
    return d;
}

void _DBSetRtAlarmNotify(void* pDB, PyObject* fn, int notifyExisting) {
    std::shared_ptr<CPyDBCore> core = static_cast<SPyDB*>(pDB)->sp;
    Py_INCREF(fn);  // the registration's own reference, if it takes
    int ret;
    Py_BEGIN_ALLOW_THREADS;
    ret = core->_SetRtAlarmNotify(fn, notifyExisting != 0);
    Py_END_ALLOW_THREADS;
    if (ret != 0) Py_DECREF(fn);
}

CPyDBCore* Core(void* pDB) {
    return static_cast<SPyDB*>(pDB)->sp.get();
}

void _DBDisconnect(void* pDB) {
    std::shared_ptr<CPyDBCore> core = static_cast<SPyDB*>(pDB)->sp;
    Py_BEGIN_ALLOW_THREADS;
    core->_Disconnect();
    Py_END_ALLOW_THREADS;
}

int _DBIsConnected(void* pDB) {
    return Core(pDB)->IsUp() ? 1 : 0;
}

PyObject* _DBLastError(void* pDB) {
    std::string why = Core(pDB)->LastError();
    return PyUnicode_DecodeUTF8(why.data(), static_cast<Py_ssize_t>(why.size()), "replace");
}

const char* _DBGetState(void* pDB) {
    return DBStateName(Core(pDB)->GetState());
}

void _DBSetStateNotify(void* pDB, PyObject* fn) {
    Py_INCREF(fn);
    if (!Core(pDB)->SetStateNotifyFn(fn)) Py_DECREF(fn);
}

void _DBSetAutoReconnect(void* pDB, int enabled, double initialDelay, double maxDelay,
                         int maxAttempts, int replayAlarms) {
    // Seconds to ms, inside what an int holds; the core clamps the rest.
    auto ms = [](double sec) {
        if (!(sec > 0)) return 0;
        return sec > 3600 ? 3600 * 1000 : static_cast<int>(sec * 1000 + 0.5);
    };
    SReconnectSettings s;
    s.bEnabled = enabled != 0;
    s.nInitialDelayMs = ms(initialDelay);
    s.nMaxDelayMs = ms(maxDelay);
    s.nMaxAttempts = maxAttempts;
    s.bReplayAlarms = replayAlarms != 0;
    Core(pDB)->SetAutoReconnect(s);
}

void _DrvDelete(void* pDrv) {
    delete Drv(pDrv);
}

int _DrvConnectTag(void* pDrv, const char* szTag) {
    if (pDrv == nullptr) return 0;
    std::shared_ptr<CPyDBCore> pin = Drv(pDrv)->core.lock();
    if (!pin) return 0;
    CString tags = TagNamesFromUtf8(szTag);
    CDBDriver* drv = Drv(pDrv)->drv.get();
    bool ok;
    Py_BEGIN_ALLOW_THREADS;
    ok = drv->_ConnectTag(tags);
    Py_END_ALLOW_THREADS;
    return ok ? 1 : 0;
}

PyObject* _DrvGetTagValue(void* pDrv, const char* szTag) {
    if (pDrv == nullptr) Py_RETURN_NONE;
    std::shared_ptr<CPyDBCore> pin = Drv(pDrv)->core.lock();
    if (!pin) Py_RETURN_NONE;
    return GetTagValue(*Drv(pDrv)->drv, TagNamesFromUtf8(szTag));
}

int _DrvSetTagValue(void* pDrv, const char* szTag, PyObject* objValues) {
    if (pDrv == nullptr) return kWriteNotSent;
    std::shared_ptr<CPyDBCore> pin = Drv(pDrv)->core.lock();
    if (!pin) return kWriteNotSent;
    return SetTagValue(*Drv(pDrv)->drv, TagNamesFromUtf8(szTag), objValues);
}

void _DrvSetTagNotify(void* pDrv, PyObject* fn) {
    if (pDrv == nullptr || !Drv(pDrv)->drv->IsAttached()) return;
    SetPyTagNotify(*Drv(pDrv)->drv, fn);
}

void _DrvSetTagBatchNotify(void* pDrv, PyObject* fn, PyTypeObject* itemType) {
    if (pDrv == nullptr || !Drv(pDrv)->drv->IsAttached()) return;
    SetPyTagNotify(*Drv(pDrv)->drv, fn, true, itemType);
}
