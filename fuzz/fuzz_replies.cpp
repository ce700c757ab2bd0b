// Request replies on arbitrary bytes: the project-folder reply ('3'), the
// chunks of advise and read replies with the values they carry, and the
// alarm subscription's head and records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ProjectFolder.h"
#include "ReplyChunk.h"
#include "RtAlarm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) return 0;
    std::vector<BYTE> buf(data + 1, data + size);  // exact size: reads past it are caught
    const BYTE* p = buf.data();
    const size_t n = buf.size();
    switch (data[0] % 4) {
        case 0: {
            CString a, b, c, d;
            ParsePrjPathReply(p, static_cast<int>(n), a, b, c, d);
            break;
        }
        case 1:
        case 2: {
            // A head, then values decoded within the L bytes that follow it.
            const bool bRead = data[0] % 4 == 2;
            const size_t nHead = bRead ? kChunkHeadLenRead : kChunkHeadLenAdvise;
            bool bMore = false;
            size_t nLen = 0;
            if (n < nHead || !ParseChunkHead(p, nHead, bRead ? 'H' : 'b', bRead, bMore, nLen))
                break;
            if (nLen > n - nHead) nLen = n - nHead;
            std::vector<XVariant> values(64);
            std::vector<XVariant*> out;
            for (XVariant& v : values)
                out.push_back(&v);
            size_t nUsed = 0;
            bool bCut = false;
            size_t got = DecodeChunkValues(p + nHead, nLen, out.data(), out.size(), &nUsed, bCut);
            if (got > out.size() || nUsed > nLen) __builtin_trap();
            break;
        }
        case 3: {
            WORD nCount = 0;
            if (n >= kAlarmHeadLen) ParseAlarmHead(p, kAlarmHeadLen, nCount);
            for (size_t at = kAlarmHeadLen; at < n; at += kRtAlarmLen) {
                S2RtAlarm2 alarm;
                bool ok = DecodeRtAlarm(p + at, n - at, alarm);
                if (ok != (n - at >= kRtAlarmLen)) __builtin_trap();
            }
            break;
        }
    }
    return 0;
}
