// The handshake scrambling: each 3 plain bytes become a random key byte k
// and the three bytes combined with k (+k, -k, ^k); a 1- or 2-byte tail
// becomes 2 or 3 bytes.
#ifndef QX_PACKETCRYPT_H
#define QX_PACKETCRYPT_H

#include "wintypes.h"

// Returns the scrambled length, or 0 (nothing written) when szOutPacket
// cannot hold it. Key bytes come from rand().
int EncryptPacket(int nInLen, const BYTE* szInPacket, int nOutBufLen, BYTE* szOutPacket);
// Returns the plain length, or 0 for an invalid length or a short buffer.
int DecryptPacket(int nInLen, const BYTE* szInPacket, int nOutBufLen, BYTE* szOutPacket);
// The longest plain text whose scrambled form fits nOutBufLen.
int MaxEncryptLen(int nOutBufLen);

#endif  // QX_PACKETCRYPT_H
