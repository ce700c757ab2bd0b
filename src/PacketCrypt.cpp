#include "PacketCrypt.h"

#include <cstdlib>

namespace {

BYTE NextKey() {
    return static_cast<BYTE>(rand() & 0xFF);
}

}  // namespace

int EncryptPacket(int nInLen, const BYTE* in, int nOutBufLen, BYTE* out) {
    if (nInLen < 0) return 0;
    const int q = nInLen / 3;
    if (4 * q + 4 > nOutBufLen) return 0;
    for (int g = 0; g < q; g++) {
        BYTE k = NextKey();
        out[4 * g] = k;
        out[4 * g + 1] = static_cast<BYTE>(in[3 * g] + k);
        out[4 * g + 2] = static_cast<BYTE>(in[3 * g + 1] - k);
        out[4 * g + 3] = static_cast<BYTE>(in[3 * g + 2] ^ k);
    }
    const int r = nInLen - 3 * q;
    if (r == 0) return 4 * q;
    BYTE k = NextKey();
    out[4 * q] = k;
    out[4 * q + 1] = static_cast<BYTE>(in[3 * q] + k);
    if (r == 2) out[4 * q + 2] = static_cast<BYTE>(in[3 * q + 1] - k);
    return 4 * q + r + 1;
}

int DecryptPacket(int nInLen, const BYTE* in, int nOutBufLen, BYTE* out) {
    if (nInLen < 0) return 0;
    const int q = nInLen / 4;
    if (3 * q > nOutBufLen) return 0;
    const int r = nInLen - 4 * q;
    if (r == 1) return 0;  // a lone key byte carries nothing
    if (r != 0 && nOutBufLen < 3 * q + r - 1) return 0;
    for (int g = 0; g < q; g++) {
        BYTE k = in[4 * g];
        out[3 * g] = static_cast<BYTE>(in[4 * g + 1] - k);
        out[3 * g + 1] = static_cast<BYTE>(in[4 * g + 2] + k);
        out[3 * g + 2] = static_cast<BYTE>(in[4 * g + 3] ^ k);
    }
    if (r == 0) return 3 * q;
    BYTE k = in[4 * q];
    out[3 * q] = static_cast<BYTE>(in[4 * q + 1] - k);
    if (r == 3) out[3 * q + 1] = static_cast<BYTE>(in[4 * q + 2] + k);
    return 3 * q + r - 1;
}

int MaxEncryptLen(int nOutBufLen) {
    return (nOutBufLen / 4) * 3 - 1;
}
