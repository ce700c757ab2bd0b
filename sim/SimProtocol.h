// The server's side of the protocol as pure functions: reading the two
// handshake packets, building the second reply, and one handler per request
// code on the request connection.
#ifndef QX_SIM_SIMPROTOCOL_H
#define QX_SIM_SIMPROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <set>
#include <vector>

#include "SimAlarms.h"
#include "SimProject.h"
#include "SimTags.h"

typedef unsigned char BYTE;

struct SFirstPacket {
    std::string id;  // 16 bytes
    bool bExtended = false;
    std::string mac;   // 6 bytes, extended form only
    std::string text;  // host or relay target, extended form only
};

struct SSecondPacket {
    std::string id;
    std::string hostName;
    bool bAccessDB = false;
};

// A packet is '7' or '8' followed by the scrambled payload.
bool ParseFirstPacket(const BYTE* p, size_t n, SFirstPacket& out);
bool ParseSecondPacket(const BYTE* p, size_t n, SSecondPacket& out);
// The scrambled '8' record; bShort cuts the plain form to 59 bytes.
std::string BuildSecondReply(const SSimProject& prj, bool bShort = false);
std::string BuildSecondRefusal();
// '7' "lan" + IPv4 (network order) + port (big-endian).
std::string BuildRedirect(uint32_t nIpNetOrder, uint16_t nPort);

// State of one client's request connection that handlers may change.
// A file body that the server streams after a '4' reply's header.
struct SSimTransfer {
    bool bActive = false;
    std::string path;     // the file on disk
    uint64_t offset = 0;  // first byte to send
    uint64_t length = 0;  // bytes to send
    bool bHello = false;  // wait for an acknowledgement after each window
};

struct SSimSession {
    const SSimProject* prj = nullptr;
    int nLoginReply = -1;  // >= 0: answer every login with this one byte
    bool bPacing = true;   // grant "Hello" pacing when the client asks
    bool bLoggedIn = false;
    std::string user;
    SSimTransfer transfer;  // set by the '4' handler, streamed by the server
    CSimTagDb* tags = nullptr;
    size_t maxChunk = 4096;          // value bytes in one 'b' or 'H' chunk
    std::set<SimTagKey> advised;     // this client's subscriptions
    std::vector<SimTagKey> changed;  // written by the last request: to notify
    const CSimAlarms* alarms = nullptr;
    bool bAlarms = false;  // subscribed to alarms ('n')
};

// Handles the request at p[0, n) (p[0] is its code). Returns the bytes it
// used with the reply in reply (possibly empty), 0 when the request is not
// complete yet, or -1 when it cannot be read (the server then closes).
typedef long (*SimRequestHandler)(SSimSession& s, const BYTE* p, size_t n, std::string& reply);
SimRequestHandler FindRequestHandler(BYTE code);

#endif  // QX_SIM_SIMPROTOCOL_H
