#include "SimServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ByteOrder.h"
#include "SimNotify.h"

struct CSimServer::SConn {
    int fd = -1;           // -1 once closed; changed under sendLock and m_lock
    bool bNotify = false;  // a paired notification connection
    bool bDone = false;    // its thread has finished and may be joined
    std::string peer;      // the client's address:port
    std::thread thread;
    std::mutex sendLock;  // one writer at a time on fd
};

namespace {

bool SendAllFd(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

CSimServer::CSimServer(const SSimProject& prj) : m_prj(prj), m_alarms(prj) {
    m_tags.Load(prj.drivers, m_tagsError);
}

CSimServer::~CSimServer() {
    Stop();
}

bool CSimServer::Start(uint16_t nPort, std::string* err, const char* szAddr) {
    if (!m_tagsError.empty()) {
        if (err) *err = m_tagsError;
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in in;
    memset(&in, 0, sizeof in);
    in.sin_family = AF_INET;
    in.sin_port = htons(nPort);
    if (inet_pton(AF_INET, szAddr, &in.sin_addr) != 1) {
        if (err) *err = std::string("not an IPv4 address: ") + szAddr;
        ::close(fd);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || ::listen(fd, 64) != 0) {
        if (err) {
            *err = "cannot listen on " + std::string(szAddr) + ":" + std::to_string(nPort) + ": " +
                   strerror(errno);
        }
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof in;
    getsockname(fd, reinterpret_cast<sockaddr*>(&in), &len);
    m_nPort = ntohs(in.sin_port);
    m_listenFd = fd;
    m_acceptThread = std::thread(&CSimServer::AcceptLoop, this);
    m_tickThread = std::thread(&CSimServer::TickLoop, this);
    return true;
}

void CSimServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bStop || m_listenFd < 0) return;
        m_bStop = true;
        for (auto& c : m_conns) {
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
        }
    }
    ::shutdown(m_listenFd, SHUT_RDWR);  // wakes accept
    m_acceptThread.join();
    m_changed.notify_all();
    m_tickThread.join();
    // No thread is added once m_bStop is set.
    for (auto& c : m_conns)
        c->thread.join();
    m_conns.clear();
    ::close(m_listenFd);
    m_listenFd = -1;
}

void CSimServer::Log(const std::shared_ptr<SConn>& conn, const std::string& what) const {
    if (m_log) m_log(conn->peer + ": " + what);
}

void CSimServer::LogRequest(const std::shared_ptr<SConn>& conn, const BYTE* p, size_t n,
                            const std::string& reply) const {
    if (!m_log || n == 0) return;
    const unsigned count = n >= 3 ? GetLE16(p + 1) : 0;
    std::string text(reinterpret_cast<const char*>(p + 1), n - 1);
    switch (p[0]) {
        case '9': {
            std::string user = text.substr(0, text.find('\0'));
            const bool bOk = !reply.empty() && reply[0] == '9';
            Log(conn, std::string("login ") + (bOk ? "accepted" : "refused") + " for user '" +
                          std::string(CT2UTF8(user.c_str())) + "'");
            return;
        }
        case '4':
            Log(conn, "file " + text.substr(0, text.find('\r')) + " requested");
            return;
        case 'b':
            Log(conn, "advise of " + std::to_string(count) + " tags");
            return;
        case 'H':
            Log(conn, "read of " + std::to_string(count) + " tags");
            return;
        case 'g':
            Log(conn, "write of " + std::to_string(count) + " values");
            return;
        case 'L':
            Log(conn, "name lookup");
            return;
        case 'n':
            Log(conn, "alarm subscription");
            return;
        case 'd':
            Log(conn, "unadvise");
            return;
        default:
            Log(conn, std::string("request '") + static_cast<char>(p[0]) + "'");
    }
}

void CSimServer::Finish(const std::shared_ptr<SConn>& conn) {
    Log(conn, conn->bNotify ? "notification connection closed" : "connection closed");
    std::lock_guard<std::mutex> send(conn->sendLock);
    std::lock_guard<std::mutex> lock(m_lock);
    ::close(conn->fd);
    conn->fd = -1;
    if (conn->bNotify) {
        conn->bNotify = false;
        m_nPaired--;
    }
    conn->bDone = true;
    m_changed.notify_all();
}

void CSimServer::ReapFinished() {
    for (auto it = m_conns.begin(); it != m_conns.end();) {
        if ((*it)->bDone) {
            (*it)->thread.join();
            it = m_conns.erase(it);
        } else {
            ++it;
        }
    }
}

void CSimServer::AcceptLoop() {
    for (;;) {
        int fd = ::accept(m_listenFd, nullptr, nullptr);
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_bStop) {
            if (fd >= 0) ::close(fd);
            return;
        }
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ReapFinished();
        m_nAccepted++;
        auto conn = std::make_shared<SConn>();
        conn->fd = fd;
        if (m_log) {
            sockaddr_in in;
            socklen_t len = sizeof in;
            char ip[INET_ADDRSTRLEN] = "?";
            if (getpeername(fd, reinterpret_cast<sockaddr*>(&in), &len) == 0)
                inet_ntop(AF_INET, &in.sin_addr, ip, sizeof ip);
            conn->peer = std::string(ip) + ":" + std::to_string(ntohs(in.sin_port));
        }
        m_conns.push_back(conn);
        conn->thread = std::thread(&CSimServer::Serve, this, conn);
    }
}

void CSimServer::Serve(std::shared_ptr<SConn> conn) {
    BYTE buf[512];
    ssize_t n = ::recv(conn->fd, buf, sizeof buf, 0);
    SFirstPacket first;
    SSecondPacket second;
    if (n > 0 && buf[0] == '7' && ParseFirstPacket(buf, static_cast<size_t>(n), first)) {
        ServeRequests(conn, first);
    } else if (n > 0 && buf[0] == '8' && ParseSecondPacket(buf, static_cast<size_t>(n), second)) {
        ServeNotify(conn, second);
    }
    Finish(conn);
}

void CSimServer::ServeRequests(std::shared_ptr<SConn> conn, const SFirstPacket& first) {
    SSimFaults faults;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        faults = m_faults;
        if (first.bExtended) m_lastTarget = first.text;
    }
    std::string reply;
    switch (faults.first) {
        case SSimFaults::kAccept:
            reply = "7";
            break;
        case SSimFaults::kRefuse:
            reply = "0";
            break;
        case SSimFaults::kRedirect:
            reply = BuildRedirect(faults.redirectIp, faults.redirectPort);
            break;
        case SSimFaults::kGarbage:
            reply = "x";
            break;
        case SSimFaults::kSilent:
            return;
    }
    if (faults.first == SSimFaults::kAccept) {
        // Known before the accept goes out: the client opens its
        // notification connection as soon as it reads it.
        std::lock_guard<std::mutex> lock(m_lock);
        m_pendingIds[first.id] = true;
        m_clients[first.id] = SClient();
    }
    if (!SendAllFd(conn->fd, reply.data(), reply.size()) || faults.first != SSimFaults::kAccept) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pendingIds.erase(first.id);
        m_clients.erase(first.id);
        return;
    }
    struct Forget {
        CSimServer* s;
        std::string id;
        ~Forget() {
            std::lock_guard<std::mutex> lock(s->m_lock);
            s->m_clients.erase(id);
        }
    } forget{this, first.id};

    SSimSession session;
    session.prj = &m_prj;
    session.tags = &m_tags;
    session.alarms = &m_alarms;
    session.nLoginReply = faults.loginReply;
    session.bPacing = faults.bPacing;
    std::string held;
    BYTE buf[4096];
    for (;;) {
        ssize_t n = ::recv(conn->fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        held.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        while (!held.empty()) {
            const BYTE* p = reinterpret_cast<const BYTE*>(held.data());
            SimRequestHandler handler = FindRequestHandler(p[0]);
            if (handler == nullptr) {
                held.clear();  // unknown request: nothing sensible to answer
                break;
            }
            bool bRefuse = false;
            {
                // Faults set while the client is connected count from its next request.
                std::lock_guard<std::mutex> lock(m_lock);
                faults = m_faults;
                if (p[0] == '9' && m_nRefuseLogins > 0) {
                    m_nRefuseLogins--;
                    bRefuse = true;
                }
            }
            session.nLoginReply = bRefuse ? '0' : faults.loginReply;
            session.bPacing = faults.bPacing;
            session.maxChunk = faults.maxChunk;
            std::string out;
            BYTE code = p[0];
            long used = handler(session, p, held.size(), out);
            if (used == 0) break;
            if (used < 0) return;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (faults.rawReplyCode != 0 && code == faults.rawReplyCode &&
                    m_requestCounts[code] >= faults.rawReplyAfter) {
                    out = faults.rawReply;
                }
                m_requestCounts[code]++;
                m_maxRequestLen[code] = std::max(m_maxRequestLen[code], static_cast<size_t>(used));
                m_lastRequest[code].assign(held, 0, static_cast<size_t>(used));
                m_clients[first.id].advised = session.advised;
                m_clients[first.id].bAlarms = session.bAlarms;
            }
            LogRequest(conn, p, static_cast<size_t>(used), out);
            if (code == '9' && faults.loginDelayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(faults.loginDelayMs));
            }
            if (!session.changed.empty()) {
                NotifyChanged(session.changed);
                session.changed.clear();
            }
            held.erase(0, static_cast<size_t>(used));
            if (session.transfer.bActive) {
                // The header goes out with the first bytes of the body.
                session.transfer.bActive = false;
                if (!StreamBody(conn, session.transfer, out, faults.dropAfterBody, held)) return;
                continue;
            }
            std::lock_guard<std::mutex> lock(conn->sendLock);
            if (!out.empty() && !SendAllFd(conn->fd, out.data(), out.size())) return;
        }
    }
}

// Sends a file body after its header. With pacing, the first window counts
// the header too, and after each window the client's acknowledgement
// ("4Hello" + the bytes it got, in hex, and a NUL) is awaited before more.
bool CSimServer::StreamBody(const std::shared_ptr<SConn>& conn, const SSimTransfer& x,
                            const std::string& header, int64_t dropAfter, std::string& held) {
    FILE* f = fopen(x.path.c_str(), "rb");
    if (f == nullptr) return false;
    fseeko(f, static_cast<off_t>(x.offset), SEEK_SET);
    uint64_t nLeft = x.length, nSentBody = 0;
    uint64_t nWindow = kHelloWindowBytes, nInWindow = header.size();
    std::vector<char> chunk(65536);
    bool ok = true;
    std::string pending = header;  // sent with the first chunk
    if (nLeft == 0) {
        std::lock_guard<std::mutex> lock(conn->sendLock);
        ok = SendAllFd(conn->fd, pending.data(), pending.size());
    }
    while (ok && nLeft > 0) {
        if (x.bHello && nInWindow >= nWindow) {
            ok = ReadAck(conn, held);
            nInWindow = 0;
            if (nWindow > 10240) nWindow -= 10240;
            if (nWindow < 8192) nWindow = 8192;
            continue;
        }
        uint64_t n = std::min<uint64_t>(nLeft, chunk.size());
        if (x.bHello) n = std::min<uint64_t>(n, nWindow - nInWindow);
        if (dropAfter >= 0) {
            if (nSentBody >= static_cast<uint64_t>(dropAfter)) break;
            n = std::min<uint64_t>(n, static_cast<uint64_t>(dropAfter) - nSentBody);
        }
        if (fread(chunk.data(), 1, n, f) != n) break;
        pending.append(chunk.data(), n);
        std::lock_guard<std::mutex> lock(conn->sendLock);
        ok = SendAllFd(conn->fd, pending.data(), pending.size());
        pending.clear();
        nLeft -= n;
        nSentBody += n;
        nInWindow += n;
    }
    fclose(f);
    return ok && nLeft == 0;  // a dropped transfer ends the connection
}

bool CSimServer::ReadAck(const std::shared_ptr<SConn>& conn, std::string& held) {
    for (;;) {
        size_t nul = held.find('\0');
        if (nul != std::string::npos) {
            std::string ack = held.substr(0, nul);
            held.erase(0, nul + 1);
            if (ack.size() < 7 || ack.compare(1, 5, "Hello") != 0) return false;
            std::lock_guard<std::mutex> lock(m_lock);
            m_acks.push_back(static_cast<uint32_t>(strtoul(ack.c_str() + 6, nullptr, 16)));
            return true;
        }
        if (held.size() > 64) return false;
        char buf[64];
        ssize_t n = ::recv(conn->fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        held.append(buf, static_cast<size_t>(n));
    }
}

void CSimServer::ServeNotify(std::shared_ptr<SConn> conn, const SSecondPacket& second) {
    SSimFaults faults;
    bool bKnown;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        faults = m_faults;
        bKnown = m_pendingIds.erase(second.id) > 0;
    }
    std::string reply;
    if (!bKnown || faults.second == SSimFaults::kRefuse2) {
        reply = BuildSecondRefusal();
    } else {
        reply = BuildSecondReply(m_prj, faults.second == SSimFaults::kShort2);
    }
    {
        std::lock_guard<std::mutex> lock(conn->sendLock);
        if (!SendAllFd(conn->fd, reply.data(), reply.size())) return;
    }
    if (!bKnown || faults.second != SSimFaults::kAccept2) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        conn->bNotify = true;
        m_nPaired++;
        auto it = m_clients.find(second.id);
        if (it != m_clients.end()) it->second.notify = conn;
    }
    m_changed.notify_all();
    Log(conn, "connection paired");
    // The client only reads here; a read returning means it has gone.
    BYTE buf[256];
    while (::recv(conn->fd, buf, sizeof buf, 0) > 0) {
    }
}

void CSimServer::SetFaults(const SSimFaults& faults) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_faults = faults;
}

bool CSimServer::WaitForClients(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_nPaired >= n; });
}

size_t CSimServer::ClientCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nPaired;
}

bool CSimServer::Push(const std::string& bytes, const std::vector<size_t>& chunks, int gapMs) {
    std::vector<std::shared_ptr<SConn>> targets;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto& c : m_conns) {
            if (c->bNotify) targets.push_back(c);
        }
    }
    if (targets.empty()) return false;
    bool ok = true;
    size_t pos = 0, i = 0;
    while (pos < bytes.size()) {
        size_t n = i < chunks.size() ? chunks[i] : bytes.size() - pos;
        if (n > bytes.size() - pos) n = bytes.size() - pos;
        for (auto& c : targets) {
            std::lock_guard<std::mutex> lock(c->sendLock);
            ok = c->fd >= 0 && SendAllFd(c->fd, bytes.data() + pos, n) && ok;
        }
        pos += n;
        i++;
        if (gapMs > 0 && pos < bytes.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        }
    }
    return ok;
}

void CSimServer::CloseNotify() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& c : m_conns) {
        if (c->bNotify && c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
}

void CSimServer::DropAll() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& c : m_conns) {
        if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
}

void CSimServer::RefuseLogins(size_t n) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nRefuseLogins = n;
}

void CSimServer::NotifyChanged(const std::vector<SimTagKey>& keys) {
    const uint32_t now = static_cast<uint32_t>(time(nullptr));
    for (SimTagKey key : keys) {
        XVariant v;
        if (!m_tags.Get(key >> 16, key & 0xFFFF, v)) continue;
        std::string msg = SimTagMsg(key >> 16, key & 0xFFFF, v);
        std::vector<std::shared_ptr<SConn>> targets;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto& c : m_clients) {
                if (c.second.notify && c.second.advised.count(key))
                    targets.push_back(c.second.notify);
            }
        }
        for (auto& c : targets) {
            std::lock_guard<std::mutex> lock(c->sendLock);
            if (c->fd >= 0) SendAllFd(c->fd, msg.data(), msg.size());
        }
        // The value first, then what it raised or ended.
        if (v.vt != VT_BSTR) PushAlarms(m_alarms.OnValue(key, v.ToDouble(), now));
    }
}

void CSimServer::PushAlarms(const std::vector<SSimAlarmEvent>& events) {
    for (const SSimAlarmEvent& ev : events) {
        BYTE rec[kRtAlarmLen];
        EncodeRtAlarm(ev.alarm, rec);
        std::string msg = SimServerMsg(ev.type, 0, 0, "", rec);
        std::vector<std::shared_ptr<SConn>> targets;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto& c : m_clients) {
                if (c.second.notify && c.second.bAlarms) targets.push_back(c.second.notify);
            }
        }
        for (auto& c : targets) {
            std::lock_guard<std::mutex> lock(c->sendLock);
            if (c->fd >= 0) SendAllFd(c->fd, msg.data(), msg.size());
        }
    }
}

void CSimServer::RaiseAlarm(const S2RtAlarm2& alarm) {
    m_alarms.Raise(alarm);
    SSimAlarmEvent ev;
    ev.alarm = alarm;
    PushAlarms({ev});
}

size_t CSimServer::AlarmClients() const {
    std::lock_guard<std::mutex> lock(m_lock);
    size_t n = 0;
    for (auto& c : m_clients)
        n += c.second.bAlarms ? 1 : 0;
    return n;
}

void CSimServer::TickLoop() {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_bStop) {
        m_changed.wait_for(lock, std::chrono::milliseconds(10));
        if (m_bStop) break;
        lock.unlock();
        int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
        std::vector<SimTagKey> changed = m_tags.Tick(now);
        if (!changed.empty()) NotifyChanged(changed);
        lock.lock();
    }
}

bool CSimServer::SetTag(uint16_t id, uint16_t pos, const XVariant& value) {
    if (!m_tags.Set(id, pos, value)) return false;
    NotifyChanged({MakeTagKey(id, pos)});
    return true;
}

bool CSimServer::GetTag(uint16_t id, uint16_t pos, XVariant& value) const {
    return m_tags.Get(id, pos, value);
}

std::vector<uint32_t> CSimServer::Acks() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_acks;
}

size_t CSimServer::MaxRequestLen(BYTE code) const {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_maxRequestLen.find(code);
    return it == m_maxRequestLen.end() ? 0 : it->second;
}

size_t CSimServer::AcceptCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nAccepted;
}

size_t CSimServer::RequestCount(BYTE code) const {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_requestCounts.find(code);
    return it == m_requestCounts.end() ? 0 : it->second;
}

std::string CSimServer::LastTarget() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastTarget;
}

std::string CSimServer::LastRequest(BYTE code) const {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_lastRequest.find(code);
    return it == m_lastRequest.end() ? std::string() : it->second;
}

bool CSimServer::FindTag(const std::string& drv, const std::string& tag, uint16_t& id,
                         uint16_t& pos) const {
    const std::string gbDrv = CUTF82T(drv.c_str()), gbTag = CUTF82T(tag.c_str());
    for (const SSimDriver& d : m_prj.drivers) {
        if (d.name != gbDrv) continue;
        pos = m_tags.Find(d.id, gbTag);
        id = d.id;
        return pos != 0xFFFF;
    }
    return false;
}
