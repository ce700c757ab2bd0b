#include "SimProtocol.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "ByteOrder.h"
#include "PacketCrypt.h"

namespace {

const size_t kBufLen = 512;

std::string Scramble(const std::string& plain) {
    BYTE out[kBufLen];
    int n = EncryptPacket(static_cast<int>(plain.size()),
                          reinterpret_cast<const BYTE*>(plain.data()), sizeof out, out);
    return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n));
}

// The plain payload after the code byte; false when it does not descramble.
bool Descramble(const BYTE* p, size_t n, char code, std::string& plain) {
    if (n < 2 || n > kBufLen || p[0] != static_cast<BYTE>(code)) return false;
    BYTE out[kBufLen];
    int m = DecryptPacket(static_cast<int>(n - 1), p + 1, sizeof out, out);
    if (m < 16) return false;
    plain.assign(reinterpret_cast<char*>(out), static_cast<size_t>(m));
    return true;
}

// The NUL-terminated text at s[from], or false when the NUL is missing.
bool TextAt(const std::string& s, size_t from, std::string& text) {
    size_t nul = s.find('\0', from);
    if (from > s.size() || nul == std::string::npos) return false;
    text = s.substr(from, nul - from);
    return true;
}

// '9' user NUL password NUL.
long HandleLogin(SSimSession& s, const BYTE* p, size_t n, std::string& reply) {
    const char* c = reinterpret_cast<const char*>(p);
    const void* nul1 = memchr(c + 1, 0, n - 1);
    if (nul1 == nullptr) return n >= 256 ? -1 : 0;
    size_t userEnd = static_cast<size_t>(static_cast<const char*>(nul1) - c);
    const void* nul2 = memchr(c + userEnd + 1, 0, n - userEnd - 1);
    if (nul2 == nullptr) return n >= 256 ? -1 : 0;
    size_t pwdEnd = static_cast<size_t>(static_cast<const char*>(nul2) - c);
    std::string user(c + 1, userEnd - 1), pwd(c + userEnd + 1, pwdEnd - userEnd - 1);

    if (s.nLoginReply >= 0) {
        reply.assign(1, static_cast<char>(s.nLoginReply));
    } else {
        const SSimUser* u = s.prj->FindUser(user);
        if (u == nullptr || u->password != pwd) {
            reply = "0";
        } else {
            BYTE ok[9] = {'9', 0, 0, 0, 0};
            PutLE32(ok + 5, u->rights);
            reply.assign(reinterpret_cast<char*>(ok), sizeof ok);
            s.bLoggedIn = true;
            s.user = user;
        }
    }
    return static_cast<long>(pwdEnd + 1);
}

// A project-relative name that stays inside the project folder.
bool SafeRelativeName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (part == "..") return false;
        start = end + 1;
    }
    return true;
}

bool StatFile(const std::string& path, uint32_t& t, uint64_t& size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    t = static_cast<uint32_t>(st.st_mtime);
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

std::string Hex(uint64_t v) {
    char sz[32];
    snprintf(sz, sizeof sz, "%llX", static_cast<unsigned long long>(v));
    return sz;
}

// '4' name CR LF, then "Key:Value" lines up to a blank line. The client
// reports its copy (LastTime, Size) and its compressed copy (gzTime,
// gzSize); the reply says what to do and streams the bytes it needs.
long HandleFile(SSimSession& s, const BYTE* p, size_t n, std::string& reply) {
    std::string req(reinterpret_cast<const char*>(p), n);
    size_t end = req.find("\r\n\r\n");
    if (end == std::string::npos) return n >= 4096 ? -1 : 0;
    std::map<std::string, std::string> fields;
    size_t eol = req.find("\r\n");
    std::string name = req.substr(1, eol - 1);
    for (size_t pos = eol + 2; pos < end + 2;) {
        size_t next = req.find("\r\n", pos);
        std::string line = req.substr(pos, next - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 1);
        pos = next + 2;
    }
    auto hexField = [&](const char* key, bool& bHas) -> uint64_t {
        auto it = fields.find(key);
        bHas = it != fields.end();
        return bHas ? strtoull(it->second.c_str(), nullptr, 16) : 0;
    };
    bool bHello = s.bPacing && fields.count("Hello") && fields["Hello"] == "Yes";

    std::string path = s.prj->folder + "/" + name;
    uint32_t t = 0;
    uint64_t size = 0;
    bool bGz = StatFile(path + ".gz", t, size);
    if (!SafeRelativeName(name) || s.prj->folder.empty() || (!bGz && !StatFile(path, t, size))) {
        reply = "Exist:No\r\nFileTime:0\r\n\r\n";
        return static_cast<long>(end + 4);
    }
    bool bHasTime, bHasSize;
    uint64_t clientTime = hexField(bGz ? "gzTime" : "LastTime", bHasTime);
    uint64_t clientSize = hexField(bGz ? "gzSize" : "Size", bHasSize);
    bool bSameTime = bHasTime && bHasSize && clientTime == t;
    reply = "Exist:Yes\r\nFileTime:" + Hex(t) + "\r\n";
    if (bSameTime && clientSize == size) {
        reply += "UseLast:Yes\r\n\r\n";
        return static_cast<long>(end + 4);
    }
    SSimTransfer& x = s.transfer;
    x = SSimTransfer();
    x.bActive = true;
    x.path = bGz ? path + ".gz" : path;
    x.bHello = bHello;
    if (bSameTime && clientSize < size) {
        x.offset = clientSize;  // the client holds a prefix: send the tail
        reply += "Append:Yes\r\n";
    }
    x.length = size - x.offset;
    reply += "Size:" + Hex(x.length) + "\r\n";
    if (bGz) reply += "GZ:Yes\r\n";
    if (bHello) reply += "Hello:Yes\r\n";
    reply += "\r\n";
    return static_cast<long>(end + 4);
}

// '3': the project's own folders, for a client on the server's machine.
long HandleProjectPath(SSimSession& s, const BYTE*, size_t, std::string& reply) {
    std::string base = s.prj->folder.empty() ? std::string("/") : s.prj->folder + "/";
    reply = "3" + base + '\0' + base + "RecData/Event/" + '\0' + base + "RecData/Alarm2/" + '\0' +
            base + "HisData/" + '\0';
    return 1;
}

// Packs typed values into chunks of at most maxChunk value bytes without
// splitting a value (a value larger than a chunk gets one of its own). With
// bMore, each chunk header carries the more flag ('H'); else not ('b').
std::string Chunks(char code, bool bMore, const std::vector<XVariant>& values, size_t maxChunk) {
    std::vector<std::string> bodies(1);
    for (const XVariant& v : values) {
        std::string enc(v.BufferSize(true), '\0');
        v.ToBuffer(reinterpret_cast<BYTE*>(&enc[0]), enc.size(), true);
        if (!bodies.back().empty() && bodies.back().size() + enc.size() > maxChunk) {
            bodies.emplace_back();
        }
        bodies.back() += enc;
    }
    std::string out;
    for (size_t i = 0; i < bodies.size(); i++) {
        BYTE head[4];
        size_t n = 0;
        head[n++] = static_cast<BYTE>(code);
        if (bMore) head[n++] = i + 1 < bodies.size() ? 1 : 0;
        PutLE16(head + n, static_cast<uint16_t>(bodies[i].size()));
        out.append(reinterpret_cast<char*>(head), n + 2);
        out += bodies[i];
    }
    return out;
}

// 'L' then (driver id, name NUL) once per name: every complete entry held
// belongs to the request, since the client awaits the reply before sending
// more.
long HandleTagPositions(SSimSession& s, const BYTE* p, size_t n, std::string& reply) {
    size_t pos = 1;
    reply = "L";
    while (pos < n) {
        if (n - pos < 3) return 0;
        const void* nul = memchr(p + pos + 2, 0, n - pos - 2);
        if (nul == nullptr) return n > 1024 ? -1 : 0;
        uint16_t id = GetLE16(p + pos);
        std::string name(reinterpret_cast<const char*>(p + pos + 2),
                         static_cast<const BYTE*>(nul) - (p + pos + 2));
        BYTE entry[4] = {0, 0, 0, 0};
        PutLE16(entry, s.tags ? s.tags->Find(id, name) : 0xFFFF);
        reply.append(reinterpret_cast<char*>(entry), 4);
        pos = static_cast<size_t>(static_cast<const BYTE*>(nul) - p) + 1;
    }
    return static_cast<long>(pos);
}

// 'b' count, then (driver id, position, 0) per tag: the values, typed.
long HandleAdvise(SSimSession& s, const BYTE* p, size_t n, std::string& reply) {
    if (n < 3) return 0;
    size_t count = GetLE16(p + 1);
    if (n < 3 + 5 * count) return 0;
    std::vector<XVariant> values(count);
    for (size_t i = 0; i < count; i++) {
        uint16_t id = GetLE16(p + 3 + 5 * i), pos = GetLE16(p + 5 + 5 * i);
        if (s.tags && s.tags->Get(id, pos, values[i])) s.advised.insert(MakeTagKey(id, pos));
    }
    reply = Chunks('b', false, values, s.maxChunk);
    return static_cast<long>(3 + 5 * count);
}

// 'H' count, then (driver id, position) per tag: the values, typed; an
// unknown tag gets an empty value.
long HandleRead(SSimSession& s, const BYTE* p, size_t n, std::string& reply) {
    if (n < 3) return 0;
    size_t count = GetLE16(p + 1);
    if (n < 3 + 4 * count) return 0;
    std::vector<XVariant> values(count);
    for (size_t i = 0; i < count; i++) {
        if (s.tags) s.tags->Get(GetLE16(p + 3 + 4 * i), GetLE16(p + 5 + 4 * i), values[i]);
    }
    reply = Chunks('H', true, values, s.maxChunk);
    return static_cast<long>(3 + 4 * count);
}

// 'g' count, then (driver id, position, typed value) per value. No reply;
// each tag written is notified to the clients that advised it.
long HandleWrite(SSimSession& s, const BYTE* p, size_t n, std::string& reply) {
    reply.clear();
    if (n < 3) return 0;
    size_t count = GetLE16(p + 1), pos = 3;
    std::vector<std::pair<SimTagKey, XVariant>> writes;
    for (size_t i = 0; i < count; i++) {
        if (n - pos < 4) return n >= 2048 ? -1 : 0;
        XVariant v;
        size_t used = v.FromBuffer(p + pos + 4, n - pos - 4, true);
        if (used == 0) return n >= 2048 ? -1 : 0;
        writes.emplace_back(MakeTagKey(GetLE16(p + pos), GetLE16(p + pos + 2)), v);
        pos += 4 + used;
    }
    for (auto& w : writes) {
        if (s.tags && s.tags->Set(w.first >> 16, w.first & 0xFFFF, w.second)) {
            s.changed.push_back(w.first);
        }
    }
    return static_cast<long>(pos);
}

// 'n': subscribes to alarms; the reply is 'n', the count of active alarms
// and their records.
long HandleAlarms(SSimSession& s, const BYTE*, size_t, std::string& reply) {
    std::vector<S2RtAlarm2> active;
    if (s.alarms) active = s.alarms->Active();
    BYTE head[3] = {'n', 0, 0};
    PutLE16(head + 1, static_cast<uint16_t>(active.size()));
    reply.assign(reinterpret_cast<char*>(head), sizeof head);
    for (const S2RtAlarm2& a : active) {
        BYTE rec[kRtAlarmLen];
        EncodeRtAlarm(a, rec);
        reply.append(reinterpret_cast<char*>(rec), sizeof rec);
    }
    s.bAlarms = true;
    return 1;
}

// 'd' and the subscription id as the client's long: 8 bytes on 64-bit
// Linux, 4 on 32-bit ARM (the simulator is built for the client's target).
long HandleUnadvise(SSimSession&, const BYTE*, size_t n, std::string& reply) {
    const size_t nLen = 1 + sizeof(long);
    if (n < nLen) return 0;
    reply = "d";
    return static_cast<long>(nLen);
}

}  // namespace

bool ParseFirstPacket(const BYTE* p, size_t n, SFirstPacket& out) {
    std::string plain;
    if (!Descramble(p, n, '7', plain)) return false;
    out = SFirstPacket();
    out.id = plain.substr(0, 16);
    if (plain.size() > 16) {
        if (plain.size() < 23) return false;
        out.bExtended = true;
        out.mac = plain.substr(16, 6);
        if (!TextAt(plain, 22, out.text)) return false;
    }
    return true;
}

bool ParseSecondPacket(const BYTE* p, size_t n, SSecondPacket& out) {
    std::string plain;
    if (!Descramble(p, n, '8', plain)) return false;
    out = SSecondPacket();
    out.id = plain.substr(0, 16);
    if (!TextAt(plain, 16, out.hostName)) return false;
    size_t flags = 17 + out.hostName.size();
    if (plain.size() < flags + 2 || plain[flags + 1] != 0x01) return false;
    out.bAccessDB = plain[flags] == 1;
    return true;
}

std::string BuildSecondReply(const SSimProject& prj, bool bShort) {
    BYTE fixed[58] = {0};
    uint32_t t, sz;
    prj.DrvInfoStamp(t, sz);
    memcpy(fixed, "qxdb-sim", 8);  // opaque server data
    PutBE32(fixed + 50, t);
    PutBE32(fixed + 54, sz);
    std::string plain = "8";
    plain.append(reinterpret_cast<char*>(fixed), sizeof fixed);
    if (bShort) return Scramble(plain);  // 59 bytes: no project name at all
    // The record must fit one 512-byte reply.
    std::string name = prj.name.substr(0, 150), title = prj.title.substr(0, 150);
    plain += name;
    plain += '\0';
    plain += title;
    plain += '\0';
    return Scramble(plain);
}

std::string BuildSecondRefusal() {
    return Scramble("0");
}

std::string BuildRedirect(uint32_t nIpNetOrder, uint16_t nPort) {
    BYTE r[10] = {'7', 'L', 'a', 'N'};
    memcpy(r + 4, &nIpNetOrder, 4);
    PutBE16(r + 8, nPort);
    return std::string(reinterpret_cast<char*>(r), sizeof r);
}

SimRequestHandler FindRequestHandler(BYTE code) {
    switch (code) {
        case '9':
            return HandleLogin;
        case '4':
            return HandleFile;
        case '3':
            return HandleProjectPath;
        case 'L':
            return HandleTagPositions;
        case 'b':
            return HandleAdvise;
        case 'H':
            return HandleRead;
        case 'g':
            return HandleWrite;
        case 'd':
            return HandleUnadvise;
        case 'n':
            return HandleAlarms;
        default:
            return nullptr;
    }
}
