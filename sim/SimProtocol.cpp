#include "SimProtocol.h"

#include <cstring>

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
        default:
            return nullptr;
    }
}
