// The server's two handshake replies on arbitrary bytes: the first (accept,
// refusal or LAN redirect) and the scrambled second (descrambled, then the
// record, project name and title).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ClientSock.h"
#include "Handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 512) return 0;
    // The first byte picks the reply and the port kind; the rest is the reply.
    std::vector<BYTE> buf(data + 1, data + size);
    const int n = static_cast<int>(buf.size());
    if (data[0] & 1) {
        CString strLan;
        ParseFirstReply(buf.data(), n, (data[0] & 2) != 0, strLan);
    } else {
        SNAckRegReq ack;
        CString name, title;
        ParseSecondReply(buf.data(), n, ack, name, title);
    }
    return 0;
}
