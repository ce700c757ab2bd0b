// XTEvent: an auto-reset event on a POSIX semaphore; XThread: thread start.
#ifndef QX_NONWIN_XTEVENT_H
#define QX_NONWIN_XTEVENT_H

#include <pthread.h>
#include <semaphore.h>

#include "wintypes.h"

// Timed wait on a semaphore: the realtime clock now plus dwMilliseconds.
// Returns sem_timedwait's result.
int sem_timedwait_millsecs(sem_t* sem, DWORD dwMilliseconds);

class XTEvent {
public:
    XTEvent() : m_bCreate(false) {}
    ~XTEvent() { Close(); }
    XTEvent(const XTEvent&) = delete;
    XTEvent& operator=(const XTEvent&) = delete;

    void Create();
    void Signal();
    // One wait of at most dwMilliseconds; true when signalled.
    bool Wait(DWORD dwMilliseconds);
    void Close();

private:
    sem_t m_sem;
    bool m_bCreate;
};

typedef pthread_t qxthread_t;
// Starts start_rtn(arg) on a new thread: detached, or joinable with its
// handle in *pThread when pThread is given. Returns pthread_create's result.
int qxthread_create(void* (*start_rtn)(void*), void* arg, qxthread_t* pThread = nullptr);
int qxthread_join(qxthread_t thread);
// Lets a joinable thread run out without being joined.
int qxthread_detach(qxthread_t thread);

#endif  // QX_NONWIN_XTEVENT_H
