// The file transfer reply header parser, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FileTransfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    // An exact-size copy, so that any read past the end is caught.
    std::vector<char> buf(data, data + size);
    SCFileInfo fi;
    int n = GetFileInfoByBuf(buf.data(), static_cast<int>(buf.size()), fi);
    if (n < 0 || n > static_cast<int>(size)) __builtin_trap();
    return 0;
}
