#include "PyDBCore.h"

#include <datetime.h>

#include <ctime>

#include "PyDelivery.h"
#include "PyValue.h"

namespace {

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
    Py_XDECREF(reinterpret_cast<PyObject*>(h->itemType));
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

// The name objects a callback is called with, made once each; null (no
// exception left) when one cannot be made.
PyObject* DrvNameObj(CDBDriver& drv, SPyTagNotify& h) {
    if (h.drvName == nullptr) {
        CT2UTF8 name(drv.m_strDriver.c_str());
        h.drvName =
            PyUnicode_DecodeUTF8(name.c_str(), static_cast<Py_ssize_t>(name.size()), "replace");
        if (h.drvName == nullptr) PyErr_Clear();
    }
    return h.drvName;
}

PyObject* TagNameObj(CDBDriver& drv, SPyTagNotify& h, WORD pos) {
    if (h.tagNames.size() <= pos)
        h.tagNames.resize(drv.GetTagCount() > pos ? drv.GetTagCount() : pos + 1u);
    PyObject*& tagName = h.tagNames[pos];
    if (tagName == nullptr) {
        CT2UTF8 name(drv.TagName(pos).c_str());
        tagName =
            PyUnicode_DecodeUTF8(name.c_str(), static_cast<Py_ssize_t>(name.size()), "replace");
        if (tagName == nullptr) PyErr_Clear();
    }
    return tagName;
}

void CallReporting(PyObject* fn, PyObject* const* args, size_t n) {
    Py_INCREF(fn);  // the callable may drop what holds it
#if PY_VERSION_HEX >= 0x03090000
    PyObject* res = PyObject_Vectorcall(fn, args, n, nullptr);
#else
    PyObject* res = _PyObject_Vectorcall(fn, args, n, nullptr);
#endif
    if (res == nullptr) {
        PyErr_WriteUnraisable(fn);
    } else {
        Py_DECREF(res);
    }
    Py_DECREF(fn);
}

}  // namespace

void SetPyTagNotify(CDBDriver& drv, PyObject* fn, bool bBatch, PyTypeObject* itemType) {
    SPyTagNotify* h = new SPyTagNotify;
    Py_INCREF(fn);
    h->fn = fn;
    h->bBatch = bBatch;
    Py_XINCREF(itemType);
    h->itemType = itemType;
    if (!drv.SetTagNotifyFn(h, ReleasePyTagNotify)) {
        Py_DECREF(fn);
        Py_XDECREF(itemType);
        delete h;
    }
}

void CPyDBCore::ReleaseCallbacks() {
    Py_XDECREF(static_cast<PyObject*>(m_rtAlarmNotifyFn.exchange(nullptr)));
    Py_XDECREF(static_cast<PyObject*>(TakeStateNotifyFn()));
}

void CPyDBCore::OnNotifyBatch(const CNotifyBatch& batch) {
    if (!OnReceiveThread()) {
        // A state change on a script's thread, which let go of the lock.
        if (PythonDeliveryStopped()) return;
        PyGILState_STATE s = PyGILState_Ensure();
        Deliver(batch);
        PyGILState_Release(s);
        return;
    }
    if (!EnterPython()) return;  // the interpreter is exiting: drop it
    Deliver(batch);
    // A callable that dropped this object has ended the batch.
    LeavePython();
}

void CPyDBCore::Deliver(const CNotifyBatch& batch) {
    // Not a member: a callable may destroy this object.
    std::vector<SRun> runs;
    for (size_t i = 0; i < batch.Size() && !DestroyedDuringDelivery(); i++) {
        const SNotifyItem& item = batch[i];
        if (item.kind == SNotifyItem::kRtAlarm) {
            CallRtAlarm(static_cast<PyObject*>(item.fn), item.alarm);
        } else if (item.kind == SNotifyItem::kState) {
            CallState(static_cast<PyObject*>(item.fn), item.state);
        } else {
            SPyTagNotify& h = *static_cast<SPyTagNotify*>(item.fn);
            if (h.bBatch) {
                AddToRun(runs, *item.pDriver, h, item.pos, item.value);
            } else {
                CallTagNotify(*item.pDriver, h, item.pos, item.value);
            }
        }
    }
    for (SRun& run : runs) {
        if (!DestroyedDuringDelivery()) {
            PyObject* args[2] = {run.h->drvName, run.pairs};
            CallReporting(run.h->fn, args, 2);
        }
        Py_DECREF(run.pairs);
    }
}

void CPyDBCore::AddToRun(std::vector<SRun>& runs, CDBDriver& drv, SPyTagNotify& h, WORD pos,
                         const XVariant& value) {
    PyObject* tagName = TagNameObj(drv, h, pos);
    if (DrvNameObj(drv, h) == nullptr || tagName == nullptr) return;
    SRun* run = nullptr;
    for (SRun& r : runs) {
        if (r.h == &h) {
            run = &r;
            break;
        }
    }
    if (run == nullptr) {
        PyObject* pairs = PyList_New(0);
        if (pairs == nullptr) {
            PyErr_Clear();
            return;
        }
        runs.push_back(SRun{&h, pairs});
        run = &runs.back();
    }
    PyObject* obj = ValueToObjLenient(value);
    PyObject* pair = nullptr;
    if (obj != nullptr && h.itemType != nullptr) {
        // As tuple's own constructor makes an instance of a subtype.
        pair = h.itemType->tp_alloc(h.itemType, 3);
        if (pair != nullptr) {
            Py_INCREF(h.drvName);
            Py_INCREF(tagName);
            PyTuple_SET_ITEM(pair, 0, h.drvName);
            PyTuple_SET_ITEM(pair, 1, tagName);
            PyTuple_SET_ITEM(pair, 2, obj);
            obj = nullptr;  // the item has it
        }
    } else if (obj != nullptr) {
        pair = PyTuple_Pack(2, tagName, obj);
    }
    Py_XDECREF(obj);
    if (pair == nullptr || PyList_Append(run->pairs, pair) != 0) PyErr_Clear();
    Py_XDECREF(pair);
}

void CPyDBCore::CallState(PyObject* fn, EDBState state) {
    PyObject* name = PyUnicode_FromString(DBStateName(state));
    if (name == nullptr) {
        PyErr_Clear();
        return;
    }
    CallReporting(fn, &name, 1);
    Py_DECREF(name);
}

void CPyDBCore::CallTagNotify(CDBDriver& drv, SPyTagNotify& h, WORD pos, const XVariant& value) {
    PyObject* drvName = DrvNameObj(drv, h);
    PyObject* tagName = TagNameObj(drv, h, pos);
    if (drvName == nullptr || tagName == nullptr) return;
    PyObject* obj = ValueToObjLenient(value);
    if (obj == nullptr) {
        PyErr_Clear();
        return;
    }
    PyObject* args[3] = {drvName, tagName, obj};
    CallReporting(h.fn, args, 3);
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
