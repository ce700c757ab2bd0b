#include "PyDBCore.h"

#include <datetime.h>

#include <ctime>

#include "PyDelivery.h"
#include "PyValue.h"

namespace {

PyObject* Call3(PyObject* fn, PyObject* a, PyObject* b, PyObject* c) {
    PyObject* args[3] = {a, b, c};
#if PY_VERSION_HEX >= 0x03090000
    return PyObject_Vectorcall(fn, args, 3, nullptr);
#else
    return _PyObject_Vectorcall(fn, args, 3, nullptr);
#endif
}

// Any thread, lock held or not: the driver's last reference went.
void ReleasePyTagNotify(void* p) {
    SPyTagNotify* h = static_cast<SPyTagNotify*>(p);
    const bool bHeld = PyGILState_Check() != 0;
    // Past the interpreter's exit the objects are gone with it.
    if (!bHeld && PythonDeliveryStopped()) {
        delete h;
        return;
    }
    PyGILState_STATE s = PyGILState_UNLOCKED;
    if (!bHeld) s = PyGILState_Ensure();
    Py_XDECREF(h->fn);
    Py_XDECREF(h->drvName);
    for (PyObject* o : h->tagNames)
        Py_XDECREF(o);
    if (!bHeld) PyGILState_Release(s);
    delete h;
}

PyObject* LocalDateTime(uint32_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm;
    if (localtime_r(&tt, &tm) == nullptr) return nullptr;
    return PyDateTime_FromDateAndTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                      tm.tm_min, tm.tm_sec, 0);
}

}  // namespace

void SetPyTagNotify(CDBDriver& drv, PyObject* fn) {
    SPyTagNotify* h = new SPyTagNotify;
    Py_INCREF(fn);
    h->fn = fn;
    if (!drv.SetTagNotifyFn(h, ReleasePyTagNotify)) {
        Py_DECREF(fn);
        delete h;
    }
}

void CPyDBCore::ReleaseCallbacks() {
    PyObject* fn = static_cast<PyObject*>(m_rtAlarmNotifyFn.exchange(nullptr));
    Py_XDECREF(fn);
}

void CPyDBCore::OnNotifyBatch(const CNotifyBatch& batch) {
    if (!EnterPython()) return;  // the interpreter is exiting: drop it
    for (size_t i = 0; i < batch.Size() && !DestroyedDuringDelivery(); i++) {
        const SNotifyItem& item = batch[i];
        if (item.kind == SNotifyItem::kRtAlarm) {
            CallRtAlarm(static_cast<PyObject*>(item.fn), item.alarm);
        } else {
            CallTagNotify(*item.pDriver, *static_cast<SPyTagNotify*>(item.fn), item.pos,
                          item.value);
        }
    }
    // A callable that dropped this object has ended the batch.
    LeavePython();
}

void CPyDBCore::CallTagNotify(CDBDriver& drv, SPyTagNotify& h, WORD pos, const XVariant& value) {
    if (h.drvName == nullptr) {
        CT2UTF8 name(drv.m_strDriver.c_str());
        h.drvName =
            PyUnicode_DecodeUTF8(name.c_str(), static_cast<Py_ssize_t>(name.size()), "replace");
        if (h.drvName == nullptr) {
            PyErr_Clear();
            return;
        }
    }
    if (h.tagNames.size() <= pos)
        h.tagNames.resize(drv.GetTagCount() > pos ? drv.GetTagCount() : pos + 1u);
    PyObject*& tagName = h.tagNames[pos];
    if (tagName == nullptr) {
        CT2UTF8 name(drv.TagName(pos).c_str());
        tagName =
            PyUnicode_DecodeUTF8(name.c_str(), static_cast<Py_ssize_t>(name.size()), "replace");
        if (tagName == nullptr) {
            PyErr_Clear();
            return;
        }
    }
    PyObject* obj = ValueToObjLenient(value);
    if (obj == nullptr) {
        PyErr_Clear();
        return;
    }
    PyObject* fn = h.fn;
    Py_INCREF(fn);  // the callable may drop the driver that holds it
    PyObject* res = Call3(fn, h.drvName, tagName, obj);
    if (res == nullptr) {
        PyErr_WriteUnraisable(fn);
    } else {
        Py_DECREF(res);
    }
    Py_DECREF(fn);
    Py_DECREF(obj);
}

void CPyDBCore::FireRtAlarm(void* fn, const S2RtAlarm2& alarm) {
    PyGILState_STATE s = PyGILState_Ensure();
    CallRtAlarm(static_cast<PyObject*>(fn), alarm);
    PyGILState_Release(s);
}

void CPyDBCore::CallRtAlarm(PyObject* fn, const S2RtAlarm2& alarm) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) {
        PyErr_Clear();
        return;
    }
    PyObject* almtm = LocalDateTime(alarm.almtm);
    PyObject* evttm = LocalDateTime(alarm.evttm != 0 ? alarm.evttm : alarm.almtm);
    PyObject* args = nullptr;
    if (almtm != nullptr && evttm != nullptr) {
        args = Py_BuildValue("(OOsissiddi)", almtm, evttm, AlarmText(m_tagList, alarm.tid),
                             alarm.evttm != 0 ? 1 : 0, AlarmText(m_textList, alarm.type),
                             AlarmText(m_textList, alarm.grp), static_cast<int>(alarm.level),
                             alarm.value, alarm.limit, static_cast<int>(alarm.status));
    }
    Py_XDECREF(almtm);
    Py_XDECREF(evttm);
    if (args == nullptr) {
        PyErr_Clear();  // a text that is not UTF-8, a time out of range
        return;
    }
    Py_INCREF(fn);  // the callable may drop this object
    PyObject* res = PyObject_Call(fn, args, nullptr);
    if (res == nullptr) {
        PyErr_WriteUnraisable(fn);
    } else {
        Py_DECREF(res);
    }
    Py_DECREF(fn);
    Py_DECREF(args);
}
