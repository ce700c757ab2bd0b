#include "PyDelivery.h"

#include <Python.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex g_lock;
std::condition_variable g_idle;
bool g_bStopped = false;
int g_nInside = 0;  // threads between EnterPython and LeavePython

bool Finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

bool Admit() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_bStopped || Finalizing()) return false;
    g_nInside++;
    return true;
}

void Depart() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (--g_nInside == 0) g_idle.notify_all();
}

// The receive thread's own thread state, made by PyGILState_Ensure so that
// code it runs may take the lock again in the usual way, and given back
// when the thread ends (if the interpreter is still there to take it).
struct SThreadState {
    PyThreadState* ts = nullptr;  // saved while the thread is outside Python
    PyGILState_STATE gil = PyGILState_UNLOCKED;
    bool bMade = false;
    ~SThreadState() {
        if (!bMade || !Admit()) return;
        PyEval_RestoreThread(ts);
        PyGILState_Release(gil);  // the last release deletes the thread state
        Depart();
    }
};

thread_local SThreadState t_state;

}  // namespace

bool EnterPython() {
    if (!Admit()) return false;
    if (t_state.bMade) {
        PyEval_RestoreThread(t_state.ts);
    } else {
        t_state.gil = PyGILState_Ensure();
        t_state.bMade = true;
    }
    return true;
}

void LeavePython() {
    t_state.ts = PyEval_SaveThread();
    Depart();
}

void StopPythonDelivery() {
    Py_BEGIN_ALLOW_THREADS;
    std::unique_lock<std::mutex> lock(g_lock);
    g_bStopped = true;
    g_idle.wait_for(lock, std::chrono::seconds(1), [] { return g_nInside == 0; });
    Py_END_ALLOW_THREADS;
}

bool PythonDeliveryStopped() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_bStopped || Finalizing();
}
