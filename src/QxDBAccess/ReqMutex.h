// CReqMutex: the request lock of a connection. Recursive (a call resolves
// names and then sends its request under one hold), and its waiters can
// give up: a request made while the receive thread restores the connection
// fails at once rather than wait for the attempt. Built on a mutex and a
// condition variable, which every tool that checks threads understands.
#ifndef QX_REQMUTEX_H
#define QX_REQMUTEX_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class CReqMutex {
public:
    void lock() { LockUnless([] { return false; }); }
    void unlock() {
        std::unique_lock<std::mutex> l(m_lock);
        if (--m_nCount > 0) return;
        m_owner = std::thread::id();
        l.unlock();
        m_free.notify_one();
    }
    // Takes the lock unless giveUp() turns true first (it is asked at least
    // every 20 ms while waiting); false when it gave up.
    template <class F>
    bool LockUnless(F giveUp) {
        const std::thread::id me = std::this_thread::get_id();
        std::unique_lock<std::mutex> l(m_lock);
        if (m_owner == me) {
            m_nCount++;
            return true;
        }
        while (m_nCount > 0) {
            if (giveUp()) return false;
            m_free.wait_for(l, std::chrono::milliseconds(20));
        }
        m_owner = me;
        m_nCount = 1;
        return true;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_free;
    std::thread::id m_owner;
    int m_nCount = 0;
};

#endif  // QX_REQMUTEX_H
