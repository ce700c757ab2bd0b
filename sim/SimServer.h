// CSimServer: a simulated database server on one TCP endpoint. It pairs each
// client's request and notification connections by the identifier in their
// handshake packets, answers requests through the handlers of SimProtocol,
// and pushes whatever a test or the program asks on the notification
// connections. Switches in SSimFaults make it misbehave on purpose.
//
// Threads: one accepting, one per connection; every public member may be
// called from any thread.
#ifndef QX_SIM_SIMSERVER_H
#define QX_SIM_SIMSERVER_H

#include <condition_variable>
#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimProject.h"
#include "SimProtocol.h"

struct SSimFaults {
    enum EFirst { kAccept, kRefuse, kRedirect, kGarbage, kSilent };
    enum ESecond { kAccept2, kRefuse2, kShort2 };
    EFirst first = kAccept;
    uint32_t redirectIp = 0x0100007F;  // network order: 127.0.0.1
    uint16_t redirectPort = 0;
    ESecond second = kAccept2;
    int loginReply = -1;         // >= 0: answer every login with this byte
    bool bPacing = true;         // grant "Hello" pacing of file bodies
    int64_t dropAfterBody = -1;  // >= 0: close after sending this many body bytes
    size_t maxChunk = 4096;      // value bytes in one 'b' or 'H' reply chunk
    BYTE rawReplyCode = 0;       // requests of this code are answered with rawReply,
    std::string rawReply;        // after the first rawReplyAfter of them
    size_t rawReplyAfter = 0;
    int loginDelayMs = 0;  // holds back each login reply this long
};

const uint64_t kHelloWindowBytes = 0x20000;

class CSimServer {
public:
    explicit CSimServer(const SSimProject& prj);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // Listens on szAddr:nPort (0 = ephemeral). False with a message in err.
    bool Start(uint16_t nPort = 0, std::string* err = nullptr, const char* szAddr = "127.0.0.1");
    void Stop();
    uint16_t Port() const { return m_nPort; }

    void SetFaults(const SSimFaults& faults);
    // Called with one line per client event (a connection paired or closed,
    // a login, a file or tag request); set before Start.
    void SetLog(std::function<void(const std::string&)> log) { m_log = std::move(log); }
    // Waits up to timeoutMs for n clients to have both connections paired.
    bool WaitForClients(size_t n, int timeoutMs);
    size_t ClientCount() const;
    // Sends bytes on every paired notification connection, as writes of the
    // sizes in chunks (the rest in one), pausing gapMs between writes.
    bool Push(const std::string& bytes, const std::vector<size_t>& chunks = {}, int gapMs = 0);
    // Closes every notification connection, as a server going away does.
    void CloseNotify();
    // Closes every connection of every client, as a server restarting does.
    void DropAll();
    // Refuses the next n logins ('0'), as a server starting up may.
    void RefuseLogins(size_t n);
    // How many connections have been accepted in all.
    size_t AcceptCount() const;
    // The longest request of this code so far, in bytes.
    size_t MaxRequestLen(BYTE code) const;
    // How many requests of this code have been answered.
    size_t RequestCount(BYTE code) const;
    // The bytes of the last request of this code, empty before the first.
    std::string LastRequest(BYTE code) const;
    // The driver id and tag position of a tag named in UTF-8; false when the
    // project has no such tag.
    bool FindTag(const std::string& drv, const std::string& tag, uint16_t& id, uint16_t& pos) const;
    // Sets a tag as a write would, and notifies the clients that advised it.
    bool SetTag(uint16_t id, uint16_t pos, const XVariant& value);
    bool GetTag(uint16_t id, uint16_t pos, XVariant& value) const;
    // Adds an alarm to the active ones and pushes it (type 1) to the clients
    // that subscribed to alarms.
    void RaiseAlarm(const S2RtAlarm2& alarm);
    // How many clients have subscribed to alarms.
    size_t AlarmClients() const;
    // The byte counts of the pacing acknowledgements received, in order.
    std::vector<uint32_t> Acks() const;
    // The relay target text of the last extended first packet.
    std::string LastTarget() const;

private:
    struct SConn;
    void AcceptLoop();
    void Serve(std::shared_ptr<SConn> conn);
    void ServeRequests(std::shared_ptr<SConn> conn, const SFirstPacket& first);
    void ServeNotify(std::shared_ptr<SConn> conn, const SSecondPacket& second);
    bool StreamBody(const std::shared_ptr<SConn>& conn, const SSimTransfer& x,
                    const std::string& header, int64_t dropAfter, std::string& held);
    bool ReadAck(const std::shared_ptr<SConn>& conn, std::string& held);
    void NotifyChanged(const std::vector<SimTagKey>& keys);
    void PushAlarms(const std::vector<SSimAlarmEvent>& events);
    void TickLoop();
    // The connection's own thread, at its end: closes it.
    void Finish(const std::shared_ptr<SConn>& conn);
    // Under m_lock: joins the threads of finished connections.
    void ReapFinished();

    struct SClient {
        std::shared_ptr<SConn> notify;
        std::set<SimTagKey> advised;
        bool bAlarms = false;
    };

    void Log(const std::shared_ptr<SConn>& conn, const std::string& what) const;
    // One line about the request p[0, n) and its reply.
    void LogRequest(const std::shared_ptr<SConn>& conn, const BYTE* p, size_t n,
                    const std::string& reply) const;

    std::function<void(const std::string&)> m_log;
    const SSimProject m_prj;
    CSimTagDb m_tags;
    CSimAlarms m_alarms;
    std::string m_tagsError;
    std::thread m_tickThread;
    int m_listenFd = -1;
    uint16_t m_nPort = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_lock;  // guards everything below
    std::condition_variable m_changed;
    bool m_bStop = false;
    SSimFaults m_faults;
    std::vector<std::shared_ptr<SConn>> m_conns;
    std::map<std::string, bool> m_pendingIds;  // request connections awaiting their pair
    size_t m_nPaired = 0;
    size_t m_nAccepted = 0;
    size_t m_nRefuseLogins = 0;
    std::map<BYTE, size_t> m_requestCounts;
    std::map<BYTE, size_t> m_maxRequestLen;
    std::map<BYTE, std::string> m_lastRequest;
    std::string m_lastTarget;
    std::vector<uint32_t> m_acks;
    std::map<std::string, SClient> m_clients;  // by connection identifier
};

#endif  // QX_SIM_SIMSERVER_H
