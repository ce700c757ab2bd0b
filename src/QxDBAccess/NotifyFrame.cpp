#include "NotifyFrame.h"

#include <cstring>

#include "ByteOrder.h"

namespace {

// Fixed lengths by type; 0 for a type outside the table. Types 16 to 21
// give the length of their header and NUL; the text adds to it.
size_t ServerMsgLen(BYTE type) {
    switch (type) {
        case 1:
        case 3:
            return 3 + kRtAlarmLen;
        case 2:
        case 5:
        case 7:
            return 7;
        case 4:
            return 43;
        case 6:
            return 20;
        case 8:
            return 5;
        case 9:
        case 14:
        case 15:
        case 22:
            return 8;
        case 10:
        case 11:
        case 12:
        case 13:
            return 15;
        case 16:
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
            return 8;
        case 255:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

bool HasPayload(VARTYPE vt) {
    return vt == VT_BSTR || (vt & VT_ARRAY) != 0 || XVariant::GetVTSize(vt) > 0;
}

size_t FrameServerMsg(const BYTE* p, size_t n, const INotifyTags& tags, SNotifyMsg& msg) {
    if (n < 3) return kFrameNeedMore;
    msg.kind = kNotifySkip;
    msg.type = p[2];
    size_t len = ServerMsgLen(msg.type);
    if (len == 0) return kFrameBad;
    if (msg.type >= 16 && msg.type <= 21) {
        if (n <= 7) return kFrameNeedMore;
        const void* nul = memchr(p + 7, 0, n - 7);
        if (nul == nullptr) return kFrameNeedMore;
        len += static_cast<size_t>(static_cast<const BYTE*>(nul) - (p + 7));
    }
    if (n < len) return kFrameNeedMore;
    if (msg.type >= 9 && msg.type <= 22) {
        // These name a tag: refuse one that this connection does not have.
        if (!tags.HasTag(GetLE16(p + 3), GetLE16(p + 5))) return kFrameBad;
    }
    if (msg.type == 1 || msg.type == 3) {
        msg.kind = kNotifyAlarm;
        msg.pRecord = p + 3;
    }
    return len;
}
