// When the receive threads may enter the interpreter. Every delivery of a
// batch, and the end of a receive thread's own thread state, goes through
// EnterPython/LeavePython; once the interpreter starts to exit (the module's
// atexit hook calls StopPythonDelivery) no receive thread enters it again,
// and the batches that arrive are dropped.
//
// A receive thread keeps one thread state for its life, made on its first
// delivery: taking the interpreter lock is then one restore per batch.
#ifndef QX_PYDELIVERY_H
#define QX_PYDELIVERY_H

// Receive thread, interpreter lock not held: takes the lock with this
// thread's own state. False, with nothing taken, once delivery has stopped.
bool EnterPython();
// Gives the lock back after EnterPython; the thread state is kept.
void LeavePython();
// Interpreter lock held: stops delivery, and lets the deliveries under way
// finish (the lock is released meanwhile, for at most a second).
void StopPythonDelivery();
// True once StopPythonDelivery has run or the interpreter is finalising.
bool PythonDeliveryStopped();

#endif  // QX_PYDELIVERY_H
