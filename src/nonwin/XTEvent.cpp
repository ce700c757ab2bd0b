#include "XTEvent.h"

#include <ctime>

int sem_timedwait_millsecs(sem_t* sem, DWORD dwMilliseconds) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += dwMilliseconds / 1000;
    ts.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return sem_timedwait(sem, &ts);
}

void XTEvent::Create() {
    if (!m_bCreate) {
        sem_init(&m_sem, 0, 0);
        m_bCreate = true;
    }
}

void XTEvent::Signal() {
    if (m_bCreate) sem_post(&m_sem);
}

bool XTEvent::Wait(DWORD dwMilliseconds) {
    if (!m_bCreate) return false;
    return sem_timedwait_millsecs(&m_sem, dwMilliseconds) == 0;
}

void XTEvent::Close() {
    if (m_bCreate) {
        sem_destroy(&m_sem);
        m_bCreate = false;
    }
}

int qxthread_create(void* (*start_rtn)(void*), void* arg, qxthread_t* pThread) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, pThread ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
    pthread_t tid;
    int ret = pthread_create(&tid, &attr, start_rtn, arg);
    pthread_attr_destroy(&attr);
    if (ret == 0 && pThread) *pThread = tid;
    return ret;
}

int qxthread_join(qxthread_t thread) {
    return pthread_join(thread, nullptr);
}

int qxthread_detach(qxthread_t thread) {
    return pthread_detach(thread);
}
