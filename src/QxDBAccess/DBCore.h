// CDBCore: a client's connection to one database server, with the drivers
// and lists it has loaded and the receive thread that reads its
// notification connection.
//
// Threads: the owner's thread (the script's) makes every call; the receive
// thread runs DoRecv alone. m_bConnect is the control flag between them.
// When the server goes away the receive thread only shuts the connections
// down and ends; the owner's thread joins it and releases the connections
// and drivers on its next call (connect, disconnect or destruction), so no
// object is destroyed under the other thread. Drivers are shared with the
// handles that bindings keep (see DBDriver.h).
#ifndef QX_DBCORE_H
#define QX_DBCORE_H

#include <atomic>
#include <map>
#include <vector>

#include "ClientSock.h"
#include "DBDriver.h"
#include "FileInfo.h"
#include "NotifyFrame.h"
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
    int _Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword);
    void _Disconnect();
    bool IsConnected() const { return m_bConnect; }

    // Receive thread: reads and dispatches notifications until the
    // connection ends.
    void DoRecv();
    // Frames and dispatches the one message at pBuf[0, nLen). Returns its
    // length, 0 when the bytes end inside it, 0xFFFF when it cannot be framed.
    int OnDBNotify(const BYTE* pBuf, int nLen);
    // Sends nReqLen bytes, then reads exactly needLen bytes into buf.
    bool RequestAll(const char* szReq, size_t nReqLen, size_t needLen, char* buf);

    bool GetTagType(WORD id, WORD pos, VARTYPE& vt) const override;
    CDBDriver* GetDriverById(WORD id) const;
    // The driver of that name (core text, exact), created on first use; null
    // when the list has no such driver or its id has no slot.
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

    // Receive thread: hands one alarm record to the binding's callback fn.
    virtual void FireRtAlarm(void* fn, const BYTE* pRecord);
    // Receive thread, no lock held: hands one tag change to the binding's
    // callback fn of drv.
    virtual void FireTagNotify(CDBDriver& drv, void* fn, WORD pos, const CString& strTag,
                               const XVariant& value);

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

private:
    int Connect(LPCTSTR szHost, const char* szUserName, const char* szPassword);
    // Owner's thread: joins a receive thread that has ended or been told to
    // end, then closes the connections and destroys the drivers.
    void ReapReceiveThread();
    // Parses a read; returns how many bytes were used (the rest is the start
    // of a message still arriving).
    size_t ParseNotifications(const BYTE* buf, size_t n);

    qxthread_t m_recvThread;
    bool m_bThread;  // owner's thread only: m_recvThread must be joined
};

void* RecvThread(void* pParam);

#endif  // QX_DBCORE_H
