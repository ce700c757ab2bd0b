// Framing of the messages the server pushes on the notification connection.
// A message is either
//   a tag change:     driver id (LE16 != 0xFFFF), tag position (LE16), and
//                     the value untyped, in the tag's present type, which
//                     the connection decodes straight into the tag; or
//   a server message: 0xFFFF, a type byte, and a body whose length the type
//                     fixes (types 16 to 21 end with a NUL-terminated text),
//                     framed here by a pure function over the bytes received.
#ifndef QX_NOTIFYFRAME_H
#define QX_NOTIFYFRAME_H

#include <cstddef>

#include "RtAlarm.h"
#include "XVariant.h"

// What the framer needs to know of the connection's drivers.
class INotifyTags {
public:
    virtual ~INotifyTags() {}
    // Whether driver id exists and has a tag at pos, whatever its type.
    virtual bool HasTag(WORD id, WORD pos) const = 0;
};

enum ENotifyKind { kNotifyAlarm, kNotifySkip };

struct SNotifyMsg {
    ENotifyKind kind = kNotifySkip;
    BYTE type = 0;                  // the type byte
    const BYTE* pRecord = nullptr;  // alarms: the 32-byte record, inside the input
};

// Framing results besides a message length (> 0).
const size_t kFrameNeedMore = 0;  // the bytes end inside the message
const size_t kFrameBad = 0xFFFF;  // cannot be framed: drop the rest of the read

// Frames the server message at p[0, n), known to start with 0xFFFF: returns
// its length with msg filled, or kFrameNeedMore, or kFrameBad. Reads nothing
// outside p[0, n).
size_t FrameServerMsg(const BYTE* p, size_t n, const INotifyTags& tags, SNotifyMsg& msg);
// Whether a value of this type has bytes on the wire: a tag message that
// decodes nothing then waits for more bytes rather than being refused.
bool HasPayload(VARTYPE vt);

#endif  // QX_NOTIFYFRAME_H
