// The Python module QxDBAccess: the types DBCore and Driver, their methods,
// and the hook that stops callbacks when the interpreter exits.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "PyDelivery.h"
#include "qxdb.h"

namespace {

struct DBCoreObj {
    PyObject_HEAD void* pDB;
};

struct DriverObj {
    PyObject_HEAD void* pDrv;  // a hold on the driver; null for Driver()
};

// The slots are set in PyInit_QxDBAccess; the rest stay zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject DBCoreType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject DriverType = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

bool CheckCallable(PyObject* fn) {
    if (PyCallable_Check(fn)) return true;
    PyErr_SetString(PyExc_TypeError, "parameter must be callable");
    return false;
}

PyObject* DBCore_new(PyTypeObject* type, PyObject*, PyObject*) {
    DBCoreObj* self = reinterpret_cast<DBCoreObj*>(type->tp_alloc(type, 0));
    if (self == nullptr) return nullptr;
    self->pDB = _DBCoreNew();
    if (self->pDB == nullptr) {
        Py_DECREF(self);
        return PyErr_NoMemory();
    }
    return reinterpret_cast<PyObject*>(self);
}

void DBCore_dealloc(PyObject* self) {
    _DBCoreDelete(reinterpret_cast<DBCoreObj*>(self)->pDB);
    Py_TYPE(self)->tp_free(self);
}

PyObject* DBConnect(PyObject* self, PyObject* args) {
    const char *szHost, *szUserName, *szPassword;
    if (!PyArg_ParseTuple(args, "sss", &szHost, &szUserName, &szPassword)) return nullptr;
    return PyLong_FromLong(
        _DBConnect(reinterpret_cast<DBCoreObj*>(self)->pDB, szHost, szUserName, szPassword));
}

PyObject* DBGetDriver(PyObject* self, PyObject* args) {
    const char* szDriver;
    if (!PyArg_ParseTuple(args, "s", &szDriver)) return nullptr;
    void* pDrv = _DBGetDriver(reinterpret_cast<DBCoreObj*>(self)->pDB, szDriver);
    if (pDrv == nullptr) {
        PyErr_Format(PyExc_LookupError,
                     "no driver named '%s' (not connected, or not in the "
                     "project)",
                     szDriver);
        return nullptr;
    }
    DriverObj* drv = PyObject_New(DriverObj, &DriverType);
    if (drv == nullptr) {
        _DrvDelete(pDrv);
        return nullptr;
    }
    drv->pDrv = pDrv;
    return reinterpret_cast<PyObject*>(drv);
}

PyObject* DBSetRtAlarmNotify(PyObject* self, PyObject* args) {
    PyObject* fn;
    int notifyExisting;
    if (!PyArg_ParseTuple(args, "Oi:set_callback", &fn, &notifyExisting)) return nullptr;
    if (!CheckCallable(fn)) return nullptr;
    _DBSetRtAlarmNotify(reinterpret_cast<DBCoreObj*>(self)->pDB, fn, notifyExisting);
    Py_RETURN_NONE;
}

PyObject* DBDisconnect(PyObject* self, PyObject*) {
    _DBDisconnect(reinterpret_cast<DBCoreObj*>(self)->pDB);
    Py_RETURN_NONE;
}

PyObject* DBIsConnected(PyObject* self, PyObject*) {
    return PyBool_FromLong(_DBIsConnected(reinterpret_cast<DBCoreObj*>(self)->pDB));
}

PyObject* DBLastError(PyObject* self, PyObject*) {
    return _DBLastError(reinterpret_cast<DBCoreObj*>(self)->pDB);
}

PyObject* DBGetState(PyObject* self, PyObject*) {
    return PyUnicode_FromString(_DBGetState(reinterpret_cast<DBCoreObj*>(self)->pDB));
}

PyObject* DBSetStateNotify(PyObject* self, PyObject* args) {
    PyObject* fn;
    if (!PyArg_ParseTuple(args, "O:set_callback", &fn)) return nullptr;
    if (!CheckCallable(fn)) return nullptr;
    _DBSetStateNotify(reinterpret_cast<DBCoreObj*>(self)->pDB, fn);
    Py_RETURN_NONE;
}

PyObject* DBSetAutoReconnect(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"enabled",      "initial_delay", "max_delay",
                                   "max_attempts", "replay_alarms", nullptr};
    int enabled = 1, maxAttempts = 0, replay = 0;
    double initialDelay = 0.5, maxDelay = 30.0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|pddip:SetAutoReconnect",
                                     const_cast<char**>(kwlist), &enabled, &initialDelay, &maxDelay,
                                     &maxAttempts, &replay))
        return nullptr;
    if (maxAttempts < 0 || !(initialDelay >= 0) || !(maxDelay >= 0)) {
        PyErr_SetString(PyExc_ValueError, "delays and max_attempts must not be negative");
        return nullptr;
    }
    _DBSetAutoReconnect(reinterpret_cast<DBCoreObj*>(self)->pDB, enabled, initialDelay, maxDelay,
                        maxAttempts, replay);
    Py_RETURN_NONE;
}

PyObject* Driver_new(PyTypeObject* type, PyObject*, PyObject*) {
    DriverObj* self = reinterpret_cast<DriverObj*>(type->tp_alloc(type, 0));
    if (self != nullptr) self->pDrv = nullptr;
    return reinterpret_cast<PyObject*>(self);
}

void Driver_dealloc(PyObject* self) {
    _DrvDelete(reinterpret_cast<DriverObj*>(self)->pDrv);
    Py_TYPE(self)->tp_free(self);
}

void* PDrv(PyObject* self) {
    return reinterpret_cast<DriverObj*>(self)->pDrv;
}

PyObject* DrvSetTagNotify(PyObject* self, PyObject* args) {
    PyObject* fn;
    if (!PyArg_ParseTuple(args, "O:set_callback", &fn)) return nullptr;
    if (!CheckCallable(fn)) return nullptr;
    _DrvSetTagNotify(PDrv(self), fn);
    Py_RETURN_NONE;
}

PyObject* DrvSetTagBatchNotify(PyObject* self, PyObject* args) {
    PyObject *fn, *itemType = nullptr;
    if (!PyArg_ParseTuple(args, "O|O:set_callback", &fn, &itemType)) return nullptr;
    if (!CheckCallable(fn)) return nullptr;
    if (itemType == Py_None) itemType = nullptr;
    // Items are made as tuple makes its subtypes': a subtype that adds
    // fields of its own cannot be made so.
    if (itemType != nullptr &&
        (!PyType_Check(itemType) ||
         !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(itemType), &PyTuple_Type) ||
         reinterpret_cast<PyTypeObject*>(itemType)->tp_basicsize != PyTuple_Type.tp_basicsize)) {
        PyErr_SetString(PyExc_TypeError,
                        "item type must be a tuple type without fields of its own");
        return nullptr;
    }
    _DrvSetTagBatchNotify(PDrv(self), fn, reinterpret_cast<PyTypeObject*>(itemType));
    Py_RETURN_NONE;
}

PyObject* DrvConnectTag(PyObject* self, PyObject* args) {
    const char* szTag;
    if (!PyArg_ParseTuple(args, "s", &szTag)) return nullptr;
    return PyLong_FromLong(_DrvConnectTag(PDrv(self), szTag));
}

PyObject* DrvGetTagValue(PyObject* self, PyObject* args) {
    const char* szTag;
    if (!PyArg_ParseTuple(args, "s", &szTag)) return nullptr;
    return _DrvGetTagValue(PDrv(self), szTag);
}

PyObject* DrvSetTagValue(PyObject* self, PyObject* args) {
    const char* szTag;
    PyObject* objValues;
    if (!PyArg_ParseTuple(args, "sO", &szTag, &objValues)) return nullptr;
    return PyLong_FromLong(_DrvSetTagValue(PDrv(self), szTag, objValues));
}

PyMethodDef DBCore_methods[] = {
    {"Connect", DBConnect, METH_VARARGS, "Connect DB server"},
    {"GetDriver", DBGetDriver, METH_VARARGS, "Get DB Driver"},
    {"SetRtAlarmNotify", DBSetRtAlarmNotify, METH_VARARGS, "Set Realtime Alarm Notify"},
    {"Disconnect", DBDisconnect, METH_NOARGS, "Disconnect DB server"},
    {"IsConnected", DBIsConnected, METH_NOARGS, "Is Connected"},
    {"LastError", DBLastError, METH_NOARGS, "Last Error"},
    {"GetState", DBGetState, METH_NOARGS, "Get Connection State"},
    {"SetStateNotify", DBSetStateNotify, METH_VARARGS, "Set Connection State Notify"},
    {"SetAutoReconnect",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(DBSetAutoReconnect)),
     METH_VARARGS | METH_KEYWORDS, "Set Auto Reconnect"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef drv_methods[] = {
    {"SetTagNotify", DrvSetTagNotify, METH_VARARGS, "Tag Value Change Notify Function"},
    {"ConnectTag", DrvConnectTag, METH_VARARGS, "Connect Tag"},
    {"GetTagValue", DrvGetTagValue, METH_VARARGS, "Get Tag Value"},
    {"SetTagValue", DrvSetTagValue, METH_VARARGS, "Set Tag Value"},
    {"SetTagBatchNotify", DrvSetTagBatchNotify, METH_VARARGS,
     "Tag Value Change Batch Notify Function"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef dbcoremodule = {
    PyModuleDef_HEAD_INIT, "qxdb", "qxdb access.", -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Run by atexit, before the interpreter tears down: from then on no
// receive thread calls into it.
PyObject* StopDelivery(PyObject*, PyObject*) {
    StopPythonDelivery();
    Py_RETURN_NONE;
}

PyMethodDef stop_def = {"_stop_delivery", StopDelivery, METH_NOARGS, nullptr};

bool RegisterAtExit() {
    PyObject* fn = PyCFunction_New(&stop_def, nullptr);
    if (fn == nullptr) return false;
    PyObject* atexit = PyImport_ImportModule("atexit");
    PyObject* res = atexit ? PyObject_CallMethod(atexit, "register", "O", fn) : nullptr;
    Py_XDECREF(atexit);
    Py_DECREF(fn);
    Py_XDECREF(res);
    return res != nullptr;
}

bool AddType(PyObject* m, PyTypeObject* type, const char* name) {
    if (PyType_Ready(type) < 0) return false;
    Py_INCREF(type);
    if (PyModule_AddObject(m, name, reinterpret_cast<PyObject*>(type)) < 0) {
        Py_DECREF(type);
        return false;
    }
    return true;
}

}  // namespace

PyMODINIT_FUNC PyInit_QxDBAccess(void) {
    DBCoreType.tp_name = "QxDBAccess.DBCore";
    DBCoreType.tp_doc = "DBCore objects";
    DBCoreType.tp_basicsize = sizeof(DBCoreObj);
    DBCoreType.tp_flags = Py_TPFLAGS_DEFAULT;
    DBCoreType.tp_new = DBCore_new;
    DBCoreType.tp_dealloc = DBCore_dealloc;
    DBCoreType.tp_methods = DBCore_methods;

    DriverType.tp_name = "QxDBAccess.Driver";
    DriverType.tp_doc = "Driver objects";
    DriverType.tp_basicsize = sizeof(DriverObj);
    DriverType.tp_flags = Py_TPFLAGS_DEFAULT;
    DriverType.tp_new = Driver_new;
    DriverType.tp_dealloc = Driver_dealloc;
    DriverType.tp_methods = drv_methods;

    PyObject* m = PyModule_Create2(&dbcoremodule, 1013);
    if (m == nullptr) return nullptr;
    if (!AddType(m, &DBCoreType, "DBCore") || !AddType(m, &DriverType, "Driver") ||
        !RegisterAtExit()) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}
