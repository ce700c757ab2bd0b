// CPyDBCore: the DBCore object of the Python module. It keeps the script's
// callables and calls them: tag changes and pushed alarms on the receive
// thread, one hold of the interpreter lock per batch (one read) and never a
// core lock meanwhile; the replay of active alarms on the subscriber's
// thread; state changes on whichever thread made them (the receive thread,
// or a script's thread in a connect or a disconnect). A callable that raises is reported to
// sys.unraisablehook and delivery goes on.
#ifndef QX_PYDBCORE_H
#define QX_PYDBCORE_H

#include <Python.h>

#include <vector>

#include "DBCore.h"

// A driver's tag-change callback as the module keeps it: the callable and
// the name objects it is called with, each made once, on first use, by the
// receive thread under the interpreter lock. The driver owns it. A batch
// callback is called once per read with the list of its driver's changes,
// rather than once per change: (tag, value) pairs, or, with an item type
// (a tuple type), items of that type made of (driver, tag, value).
struct SPyTagNotify {
    PyObject* fn = nullptr;
    bool bBatch = false;
    PyTypeObject* itemType = nullptr;
    PyObject* drvName = nullptr;
    std::vector<PyObject*> tagNames;  // by position
};

// Registers fn (a reference of its own) as drv's callback unless it has one.
// itemType (a reference of its own too) only with bBatch; may be null.
void SetPyTagNotify(CDBDriver& drv, PyObject* fn, bool bBatch = false,
                    PyTypeObject* itemType = nullptr);

class CPyDBCore : public CDBCore {
public:
    CPyDBCore() = default;

    void OnNotifyBatch(const CNotifyBatch& batch) override;
    // The replay of _SetRtAlarmNotify: takes the interpreter lock itself.
    void FireRtAlarm(void* fn, const S2RtAlarm2& alarm) override;
    // Takes a reference to the alarm callable; the interpreter lock is not
    // held here, so the module takes it before it subscribes.
    void* RegisterRtAlarmNotify(void* fn) override { return fn; }

    // Interpreter lock held, receive thread ended: lets the alarm and state
    // callables go.
    void ReleaseCallbacks();

private:
    // A batch callback's pairs of one batch, called once the batch is read.
    struct SRun {
        SPyTagNotify* h;
        PyObject* pairs;
    };
    // Interpreter lock held.
    void Deliver(const CNotifyBatch& batch);
    void AddToRun(std::vector<SRun>& runs, CDBDriver& drv, SPyTagNotify& h, WORD pos,
                  const XVariant& value);
    void CallState(PyObject* fn, EDBState state);
    // Interpreter lock held: calls fn with the ten arguments of the alarm;
    // skips the call when they cannot be made.
    void CallRtAlarm(PyObject* fn, const S2RtAlarm2& alarm);
    void CallTagNotify(CDBDriver& drv, SPyTagNotify& h, WORD pos, const XVariant& value);
};

#endif  // QX_PYDBCORE_H
