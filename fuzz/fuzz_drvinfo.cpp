// The driver list parser, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ProjectLists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> buf(data, data + size);
    std::map<CString, SNDrvInfoEx> map;
    ParseDrvInfo(buf.data(), buf.size(), map);
    // Each entry takes at least its NUL and four bytes.
    if (map.size() * 5 > size) __builtin_trap();
    return 0;
}
