#include "RtAlarm.h"

#include <cstring>

#include "ByteOrder.h"

namespace {

double GetLEDouble(const BYTE* p) {
    uint64_t bits = GetLE64(p);
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

void PutLEDouble(BYTE* p, double d) {
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    PutLE64(p, bits);
}

}  // namespace

bool DecodeRtAlarm(const BYTE* p, size_t n, S2RtAlarm2& alarm) {
    if (p == nullptr || n < kRtAlarmLen) return false;
    alarm.almtm = GetLE32(p);
    alarm.evttm = GetLE32(p + 4);
    alarm.tid = GetLE16(p + 8);
    alarm.type = GetLE16(p + 10);
    alarm.grp = GetLE16(p + 12);
    alarm.level = p[14];
    alarm.status = p[15];
    alarm.value = GetLEDouble(p + 16);
    alarm.limit = GetLEDouble(p + 24);
    return true;
}

void EncodeRtAlarm(const S2RtAlarm2& alarm, BYTE out[kRtAlarmLen]) {
    PutLE32(out, alarm.almtm);
    PutLE32(out + 4, alarm.evttm);
    PutLE16(out + 8, alarm.tid);
    PutLE16(out + 10, alarm.type);
    PutLE16(out + 12, alarm.grp);
    out[14] = alarm.level;
    out[15] = alarm.status;
    PutLEDouble(out + 16, alarm.value);
    PutLEDouble(out + 24, alarm.limit);
}

bool ParseAlarmHead(const BYTE* p, size_t n, WORD& nCount) {
    if (p == nullptr || n != kAlarmHeadLen || p[0] != 'n') return false;
    nCount = GetLE16(p + 1);
    return true;
}

const char* AlarmText(const std::vector<CString>& list, size_t index) {
    return index < list.size() ? list[index].c_str() : "???";
}
