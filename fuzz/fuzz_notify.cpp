// Notification framing and dispatch, with drivers attached, on arbitrary
// reads: every message a read holds is framed within its bytes. Each input
// gets a connection object of its own, so that nothing carries over.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DBCore.h"

namespace {

const VARTYPE kTypes[] = {VT_I4, VT_BSTR, VT_R8, VT_BOOL, VT_EMPTY, VT_ARRAY | VT_VARIANT};

// Two drivers of six tags, one of each type above; an alarm callback set.
void Setup(CDBCore& c) {
    c.m_pDrivers.resize(3);
    for (WORD id = 0; id < 2; id++) {
        SNDrvInfoEx info;
        info.id = id;
        info.tagNum = 6;
        CString name = id == 0 ? "D0" : "D1";
        c.m_mapDrvInfos[name] = info;
        std::shared_ptr<CDBDriver> d = c._GetDriver(name);
        static int handle = 0;
        d->m_tagNotifyFn = &handle;
        for (WORD pos = 0; pos < 6; pos++) {
            XVariant v;
            v.vt = kTypes[pos];
            if (v.vt == VT_BSTR) v = "";
            d->PutTagValue(pos, v);
        }
    }
    static int alarms = 0;
    c.m_rtAlarmNotifyFn = &alarms;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048) return 0;
    std::vector<BYTE> buf(data, data + size);
    CDBCore core;
    Setup(core);
    CNotifyBatch batch;
    size_t used = core.ParseNotifications(buf.data(), buf.size(), batch);
    if (used > buf.size()) __builtin_trap();
    // One message at a time gives the same verdicts.
    size_t pos = 0;
    while (pos < buf.size()) {
        int r = core.OnDBNotify(buf.data() + pos, static_cast<int>(buf.size() - pos));
        if (r == 0 || r == 0xFFFF) break;
        if (r < 0 || static_cast<size_t>(r) > buf.size() - pos) __builtin_trap();
        pos += static_cast<size_t>(r);
    }
    return 0;
}
