// CDBCore: a client's connection to one database server, with the drivers
// and lists it has loaded and the receive thread that reads its
// notification connection.
//
// Threads: any script thread may make calls; every exchange on the request
// connection holds m_reqLock, so that two never interleave. The receive
// thread runs DoRecv alone and hands what it frames to the binding one
// batch per read (OnNotifyBatch), with no lock held. m_bConnect is the
// control flag: once it is false every request fails at once.
//
// A connection ends in one of three ways: the owner disconnects; the server
// goes away (the receive thread sees it, shuts both connections down and
// closes them); or a request finds its reply cut short, late or malformed
// (EndConnection: a request connection out of step must carry nothing more).
// The receive thread is joined, and the drivers released, on the next
// connect, disconnect or destruction made from another thread, unless
// reconnect is on (SetAutoReconnect): then a connection the owner did not
// end is restored by the receive thread itself, which logs in again, gives
// the same driver objects their new ids, resolves and advises again every
// tag that was advised and subscribes the alarm callback again. Meanwhile
// requests from other threads fail at once (CRequestHold). Disconnect
// and destruction are safe from the receive thread itself (a callback that
// drops its connection): they only end the connection there, and what is
// in use is released once the delivery has returned. Drivers are shared
// with the handles that bindings keep (see DBDriver.h).
#ifndef QX_DBCORE_H
#define QX_DBCORE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ClientSock.h"
#include "DBDriver.h"
#include "DBState.h"
#include "FileInfo.h"
#include "NotifyBatch.h"
#include "NotifyFrame.h"
#include "ReqMutex.h"
#include "RtAlarm.h"
#include "XTEvent.h"

const int kRecvBufLen = 2048;
const int kLoginBufLen = 256;

// One driver slot: index = driver id. The owner's thread publishes a driver
// by a single store once it is complete; the receive thread loads it. The
// driver map's entry holds the reference that keeps it alive.
struct SDriverSlot {
    std::atomic<CDBDriver*> p{nullptr};
    SDriverSlot() = default;
    SDriverSlot(const SDriverSlot& o) : p(o.p.load()) {}
};

class CDBCore : public CClientSock, public INotifyTags {
public:
    CDBCore();
    ~CDBCore() override;
    CDBCore(const CDBCore&) = delete;
    CDBCore& operator=(const CDBCore&) = delete;

    // 0 connected; -1 login refused; -2 handshake, synchronisation or login
    // exchange failed; -3 empty project name or an unknown login reply.
    // Called on the receive thread it refuses with -2.
    int _Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword);
    void _Disconnect();
    bool IsConnected() const { return m_bConnect; }
    // Connected and in use: not while a connect or a reconnect is under way.
    bool IsUp() const { return m_bConnect && GetState() == kStateConnected; }
    EDBState GetState() const { return static_cast<EDBState>(m_state.load()); }

    // Reconnect settings, clamped; they apply from the next loss on.
    void SetAutoReconnect(const SReconnectSettings& s);
    SReconnectSettings GetAutoReconnect() const;
    // The attempts made since the connection was last lost, and the pause
    // before the last of them (ms).
    int ReconnectAttempts() const { return m_nAttempts; }
    int LastBackoffMs() const { return m_nLastBackoffMs; }
    // Stores the binding's state callback handle when none is stored yet:
    // every change of state then reaches OnNotifyBatch as a kState item.
    bool SetStateNotifyFn(void* fn);
    // Teardown: no state change is told any more.
    void MuteState() { m_bMuted = true; }
    // Receive thread ended: gives back the state callback handle, if any.
    void* TakeStateNotifyFn() { return m_stateNotifyFn.exchange(nullptr); }

    // Receive thread: reads and dispatches notifications until the
    // connection ends.
    void DoRecv();
    // Frames and dispatches the one message at pBuf[0, nLen), delivering what
    // it holds at once. Returns its length, 0 when the bytes end inside it,
    // 0xFFFF when it cannot be framed.
    int OnDBNotify(const BYTE* pBuf, int nLen);
    // Frames every message of buf[0, n) into batch, applying tag changes to
    // their drivers. Returns the bytes used: the rest, if any, is the start
    // of a message still arriving.
    size_t ParseNotifications(const BYTE* buf, size_t n, CNotifyBatch& batch);
    // Sends nReqLen bytes, then reads exactly needLen bytes into buf. The
    // caller holds m_reqLock.
    bool RequestAll(const char* szReq, size_t nReqLen, size_t needLen, char* buf);

    // Caller holds m_reqLock, about to send a request: false when the
    // connection is gone, or out of step (bytes nobody asked for are
    // waiting), which ends it.
    bool BeginRequest();
    // Any thread: ends the connection as a lost one. Used when a reply was
    // not read whole, so that no later request reads the rest of it. With a
    // request and a reason, LastError() tells "REQUEST failed: WHY".
    void EndConnection(const char* szRequest = nullptr, const char* szWhy = nullptr);
    // Why a reply that began at start could not be read: "reply timed out
    // after 8 s", or cut short.
    std::string ReplyFailure(std::chrono::steady_clock::time_point start) const;

    bool HasTag(WORD id, WORD pos) const override;
    CDBDriver* GetDriverById(WORD id) const;
    // The driver of that name (core text, exact), created on first use; null
    // when the list has no such driver or its id has no slot, and while not
    // connected.
    std::shared_ptr<CDBDriver> _GetDriver(LPCTSTR szDrvName);
    // Owner's thread, receive thread not running: detaches and releases
    // every driver, empties the map and leaves every slot empty.
    void ClearDrivers();
    // The single-name position request: true with *pTagId set when the
    // server answered.
    bool GetTagId(WORD drvId, LPCTSTR tagName, WORD* pTagId);
    // Cancels a subscription; true when the server confirms.
    bool UnadviseTag(long id);

    // Brings a project file up to date in the cache, with the expectation
    // mapFileInfos holds for it: 0 only when a transfer was attempted and
    // failed.
    int GetPrjFile(LPCTSTR szFileName, CFileInfoMap& mapFileInfos);

    // Subscribes to real-time alarms: 0 subscribed, -1 a callback is
    // registered already (nothing sent), -2 the exchange failed (nothing
    // registered). With notifyExisting the alarms active now are delivered
    // to fn first, on this thread, before the method returns.
    int _SetRtAlarmNotify(void* fn, bool notifyExisting);

    // The binding's seams. The defaults do nothing but what is said.
    //
    // Receive thread, no lock held: everything one read delivered, in order.
    // The default calls FireTagNotify and FireRtAlarm item by item.
    virtual void OnNotifyBatch(const CNotifyBatch& batch);
    virtual void FireTagNotify(CDBDriver& drv, void* fn, WORD pos, const XVariant& value);
    // One alarm to the callback fn: from OnNotifyBatch's default on the
    // receive thread, and for the replay of _SetRtAlarmNotify on the
    // subscriber's thread.
    virtual void FireRtAlarm(void* fn, const S2RtAlarm2& alarm);
    virtual void FireStateNotify(void* fn, EDBState state);
    // Receive thread, last thing before it ends (the connection has ended):
    // no batch follows until the next connect.
    virtual void OnReceiveEnd() {}
    // Turns the script's callback into the handle kept in m_rtAlarmNotifyFn
    // (a reference of its own, a thread-safe function); the default keeps fn.
    virtual void* RegisterRtAlarmNotify(void* fn) { return fn; }

    std::vector<SDriverSlot> m_pDrivers;
    std::map<CString, SNDrvInfoEx> m_mapDrvInfos;
    std::vector<CString> m_textList;
    std::vector<CString> m_tagList;
    XTEvent m_exitThreadEvent;
    UINT m_nRights;
    std::atomic<bool> m_bConnect;
    std::atomic<void*> m_rtAlarmNotifyFn;  // binding's handle; null = none
    CString m_strPrjName;
    CString m_strTitle;
    // The longest the whole reply to one tag or alarm request may take
    // (ms); whatever the server sends, each exchange ends within it.
    int m_nReplyTimeOut = 8000;
    // Held through every exchange on the request connection, and by the
    // receive thread to close that connection. Recursive: a call resolves
    // names and then sends its request under one hold.
    CReqMutex m_reqLock;

protected:
    // True on this object's own receive thread.
    bool OnReceiveThread() const;
    // Receive thread, in OnNotifyBatch: true once a callback has destroyed
    // the object being delivered for. Read from the thread, not the object.
    static bool DestroyedDuringDelivery();
    qxthread_t m_recvThread;  // set before the thread starts

public:
    struct SRecvLocal;  // the receive thread's own state (DBCore.cpp)

private:
    int Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword);
    // Not on the receive thread: joins a receive thread that has ended or
    // been told to end, then closes the connections and destroys the drivers.
    void ReapReceiveThread();
    // Receive thread, on seeing the connection lost: closes both connections.
    void CloseLost();
    // Frames the message at p[0, n) into batch; the run lock stays on the
    // driver of the last tag change, for the next one.
    size_t FrameOne(const BYTE* p, size_t n, struct SRunLock& run, CNotifyBatch& batch);
    // Fetches a list file once into the project folder and loads it. Caller
    // holds m_reqLock.
    void LoadAlarmList(const char* szFile, std::vector<CString>& list);
    // The alarm subscription request and its reply, the active alarms into
    // *pActive when given. Caller holds m_reqLock; false ends the connection.
    bool ReqAlarmSubscribe(std::vector<S2RtAlarm2>* pActive);

    // The handshake, login and driver list into infos, without starting the
    // receive thread; the results of _Connect. Caller holds m_reqLock.
    int Login(LPCTSTR szHost, const char* szUserName, const char* szPassword,
              std::map<CString, SNDrvInfoEx>& infos);
    // Changes the state (only from nOnlyFrom, when given) and tells the
    // binding. Never with m_reqLock held: the binding may run the script's
    // code.
    void SetState(EDBState state, int nOnlyFrom = -1);
    // Receive thread, connection lost: reconnects as the settings say. True
    // once connected again; false when it gave up, reconnect is off, the
    // owner ended the connection or a callback destroyed this object.
    bool Supervise(SRecvLocal& local);
    // One attempt, under m_reqLock; on success resync holds the current
    // values of the tags advised again and, when asked, the active alarms.
    bool TryReconnect(CNotifyBatch& resync);
    // Gives the drivers that were in use the ids of the new list; a driver
    // gone from it, or whose tag count changed, is detached.
    void ReattachDrivers(std::map<CString, SNDrvInfoEx>& fresh);
    // Advises again the tags of drv that were advised, by name, and adds
    // their values to resync. False when the connection ended.
    bool ReadviseDriver(CDBDriver& drv, CNotifyBatch& resync);
    // Waits up to ms; true once the owner is ending the connection.
    bool WaitUnlessClosing(int ms);
    // The receive loop of one connection; true when it was lost rather than
    // ended by the owner.
    bool ReceiveUntilEnd(SRecvLocal& local);

    bool m_bThread;            // m_recvThread must be joined; guarded by m_reqLock
    bool m_bAlarmSubscribing;  // a subscription is under way; guarded by m_reqLock

    friend class CRequestHold;
    std::atomic<int> m_state{kStateUnconnected};
    std::atomic<void*> m_stateNotifyFn{nullptr};
    std::atomic<bool> m_bMuted{false};
    std::atomic<bool> m_bClosing{false};  // the owner is ending the connection
    std::atomic<int> m_nAttempts{0};
    std::atomic<int> m_nLastBackoffMs{0};
    mutable std::mutex m_superLock;  // guards the settings, credentials and m_wake
    std::condition_variable m_wake;
    SReconnectSettings m_reconnect;
    CString m_strHost;  // what the last _Connect was given, to log in again
    std::string m_strUser;
    std::string m_strPassword;
};

// A script's hold on the request lock. While the receive thread restores
// the connection it does not wait: it fails at once, as a request on an
// ended connection does. The receive thread itself (and the script's code
// it runs) always gets the lock.
class CRequestHold {
public:
    explicit CRequestHold(CDBCore& core);
    ~CRequestHold();
    CRequestHold(const CRequestHold&) = delete;
    CRequestHold& operator=(const CRequestHold&) = delete;
    explicit operator bool() const { return m_bHeld; }

private:
    CDBCore& m_core;
    bool m_bHeld = false;
};

// What a receive thread keeps of its own, outside the object it serves: the
// object may be destroyed from a callback that this thread is running, and
// the drivers in the batch being delivered must outlive that delivery.
struct CDBCore::SRecvLocal {
    CDBCore* pCore = nullptr;
    bool bOrphaned = false;  // the object was destroyed during a delivery
    std::vector<std::shared_ptr<CDBDriver>> graveyard;
    CNotifyBatch batch;  // reused from read to read
};

void* RecvThread(void* pParam);

#endif  // QX_DBCORE_H
