// Real-time alarm records: the 32-byte S2RtAlarm2 that the server pushes in
// alarm messages and lists in the reply to an alarm subscription ('n'), and
// the text lookups that give an alarm its names.
//
// Record layout, little-endian, no alignment:
//   0 almtm (u32)  4 evttm (u32)  8 tid (u16)  10 type (u16)  12 grp (u16)
//   14 level (u8)  15 status (u8)  16 value (f64)  24 limit (f64)
#ifndef QX_RTALARM_H
#define QX_RTALARM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cstring.h"
#include "wintypes.h"

const size_t kRtAlarmLen = 32;
const size_t kAlarmHeadLen = 3;  // 'n' and the count of active alarms

struct S2RtAlarm2 {
    uint32_t almtm = 0;  // alarm time, seconds since 1970 UTC
    uint32_t evttm = 0;  // event time; 0 when the alarm has none
    WORD tid = 0;        // index into the tag list
    WORD type = 0;       // index into the text list
    WORD grp = 0;        // index into the text list
    BYTE level = 0;
    BYTE status = 0;
    double value = 0;
    double limit = 0;
};

// Decodes one record from p[0, n); false when fewer than 32 bytes are there.
bool DecodeRtAlarm(const BYTE* p, size_t n, S2RtAlarm2& alarm);
// Encodes one record into out[0, 32).
void EncodeRtAlarm(const S2RtAlarm2& alarm, BYTE out[kRtAlarmLen]);
// Reads the head of an 'n' reply: true with nCount set when p[0, n) is
// exactly the three head bytes and the code is right.
bool ParseAlarmHead(const BYTE* p, size_t n, WORD& nCount);

// The list's entry at index, or "???" beyond its end.
const char* AlarmText(const std::vector<CString>& list, size_t index);

#endif  // QX_RTALARM_H
