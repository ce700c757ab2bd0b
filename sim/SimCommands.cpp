#include "SimCommands.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "SimNotify.h"

const char kSimCommandHelp[] =
    "Commands (--commands), one a line on standard input, each answered with\n"
    "one line on standard output, 'ok[ RESULT]' or 'error: WHY':\n"
    "  set DRIVER TAG VALUE       set a tag as a write would (VALUE: rest of line)\n"
    "  storm DRIVER TAG COUNT     push COUNT changes of the tag (values 0, 1, ...)\n"
    "                             in large writes, to clients that advised it or not\n"
    "  alarm TID TYPE GRP LEVEL STATUS VALUE LIMIT [ALMTM [EVTTM]]\n"
    "                             raise a real-time alarm (times default to now, 0)\n"
    "  push HEX                   send raw bytes on every notification connection\n"
    "  closenotify                close every notification connection\n"
    "  drop                       close every connection, as a restart does\n"
    "  refuse N                   refuse the next N logins\n"
    "  fault raw CODE HEX [AFTER] answer requests of CODE with the raw bytes HEX\n"
    "                             (nothing more), after the first AFTER of them\n"
    "  fault none                 behave again\n"
    "  clients N MS               wait up to MS ms for N paired clients\n"
    "  clientcount                how many clients are paired now\n"
    "  alarmclients               how many clients subscribed to alarms\n"
    "  count CODE                 how many requests of CODE were answered\n"
    "  lastreq CODE               the last request of CODE, in hex\n"
    "  rawlisten NREQ HEX         a port of its own that answers every NREQ bytes\n"
    "                             it receives with the bytes HEX, for baselines\n"
    "CODE is the request's code character (H read, b advise, g write, n alarms,\n"
    "9 login).\n";

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool Unhex(const std::string& hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        std::string two = hex.substr(i, 2);
        long b = strtol(two.c_str(), &end, 16);
        if (*end != '\0') return false;
        out += static_cast<char>(b);
    }
    return true;
}

std::string Rest(std::istringstream& in) {
    std::string rest;
    std::getline(in >> std::ws, rest);
    return rest;
}

std::string Storm(CSimServer& server, uint16_t id, uint16_t pos, long count) {
    XVariant v;
    if (!server.GetTag(id, pos, v) || v.vt == VT_BSTR) return "error: not a numeric tag";
    const VARTYPE vt = v.vt;
    std::string bytes;
    const size_t kWrite = 1 << 16;
    for (long i = 0; i < count; i++) {
        XVariant n(static_cast<int>(i));
        if (n.ChangeType(vt) != 0) return "error: cannot convert to the tag's type";
        bytes += SimTagMsg(id, pos, n);
        if (bytes.size() >= kWrite) {
            if (!server.Push(bytes)) return "error: no client took the changes";
            bytes.clear();
        }
    }
    if (!bytes.empty() && !server.Push(bytes)) return "error: no client took the changes";
    return "ok";
}

// A loopback port, with Nagle off as on the server's own connections, that
// answers each nReq bytes with reply: the floor a request of those sizes
// costs, to measure a client against.
std::string RawListen(size_t nReq, const std::string& reply) {
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in = sockaddr_in();
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof in;
    if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 ||
        listen(lfd, 4) != 0 || getsockname(lfd, reinterpret_cast<sockaddr*>(&in), &len) != 0) {
        if (lfd >= 0) close(lfd);
        return "error: cannot listen";
    }
    std::thread([lfd, nReq, reply] {
        for (;;) {
            int fd = accept(lfd, nullptr, nullptr);
            if (fd < 0) return;
            int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::thread([fd, nReq, reply] {
                std::string req(nReq, '\0');
                while (recv(fd, &req[0], nReq, MSG_WAITALL) == static_cast<ssize_t>(nReq)) {
                    if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
                }
                close(fd);
            }).detach();
        }
    }).detach();
    return "ok " + std::to_string(ntohs(in.sin_port));
}

}  // namespace

std::string RunSimCommand(CSimServer& server, const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd)) return "error: empty command";
    if (cmd == "set" || cmd == "storm") {
        std::string drv, tag;
        uint16_t id = 0, pos = 0;
        if (!(in >> drv >> tag)) return "error: usage: " + cmd + " DRIVER TAG ...";
        if (!server.FindTag(drv, tag, id, pos)) return "error: no tag " + drv + " " + tag;
        if (cmd == "storm") {
            long count = 0;
            if (!(in >> count) || count < 0) return "error: usage: storm DRIVER TAG COUNT";
            return Storm(server, id, pos, count);
        }
        std::string value = Rest(in);
        return server.SetTag(id, pos, XVariant(value.c_str())) ? "ok" : "error: not set";
    }
    if (cmd == "alarm") {
        S2RtAlarm2 a;
        unsigned tid, type, grp, level, status;
        if (!(in >> tid >> type >> grp >> level >> status >> a.value >> a.limit))
            return "error: usage: alarm TID TYPE GRP LEVEL STATUS VALUE LIMIT [ALMTM [EVTTM]]";
        a.tid = static_cast<WORD>(tid);
        a.type = static_cast<WORD>(type);
        a.grp = static_cast<WORD>(grp);
        a.level = static_cast<BYTE>(level);
        a.status = static_cast<BYTE>(status);
        a.almtm = static_cast<uint32_t>(time(nullptr));
        if (in >> a.almtm) in >> a.evttm;
        server.RaiseAlarm(a);
        return "ok";
    }
    if (cmd == "push") {
        std::string bytes;
        if (!Unhex(Rest(in), bytes)) return "error: usage: push HEX";
        return server.Push(bytes) ? "ok" : "error: no notification connection";
    }
    if (cmd == "closenotify") {
        server.CloseNotify();
        return "ok";
    }
    if (cmd == "drop") {
        server.DropAll();
        return "ok";
    }
    if (cmd == "refuse") {
        size_t n = 0;
        if (!(in >> n)) return "error: usage: refuse N";
        server.RefuseLogins(n);
        return "ok";
    }
    if (cmd == "fault") {
        std::string kind, code, hex;
        SSimFaults faults;
        if (!(in >> kind)) return "error: usage: fault raw CODE HEX [AFTER] | fault none";
        if (kind == "raw") {
            if (!(in >> code >> hex) || code.size() != 1 || !Unhex(hex, faults.rawReply))
                return "error: usage: fault raw CODE HEX [AFTER]";
            faults.rawReplyCode = static_cast<BYTE>(code[0]);
            in >> faults.rawReplyAfter;
        } else if (kind != "none") {
            return "error: unknown fault '" + kind + "'";
        }
        server.SetFaults(faults);
        return "ok";
    }
    if (cmd == "clients") {
        size_t n = 0;
        int ms = 0;
        if (!(in >> n >> ms)) return "error: usage: clients N MS";
        return server.WaitForClients(n, ms) ? "ok" : "error: timed out";
    }
    if (cmd == "rawlisten") {
        size_t nReq = 0;
        std::string hex, reply;
        if (!(in >> nReq >> hex) || nReq == 0 || !Unhex(hex, reply))
            return "error: usage: rawlisten NREQ HEX";
        return RawListen(nReq, reply);
    }
    if (cmd == "clientcount") return "ok " + std::to_string(server.ClientCount());
    if (cmd == "alarmclients") return "ok " + std::to_string(server.AlarmClients());
    if (cmd == "count" || cmd == "lastreq") {
        std::string code;
        if (!(in >> code) || code.size() != 1) return "error: usage: " + cmd + " CODE";
        const BYTE c = static_cast<BYTE>(code[0]);
        if (cmd == "count") return "ok " + std::to_string(server.RequestCount(c));
        return "ok " + Hex(server.LastRequest(c));
    }
    return "error: unknown command '" + cmd + "'";
}
