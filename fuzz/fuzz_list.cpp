// The text list parser, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ProjectLists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> buf(data, data + size);
    std::vector<CString> list;
    ParseStringList(buf.data(), buf.size(), list);
    for (const CString& s : list) {
        // UTF-8 of a line of at most 255 GB2312 bytes (empty when its first
        // character does not convert: it still takes its index).
        if (s.size() > 2 * kMaxListLine) __builtin_trap();
    }
    return 0;
}
