#include "PacketCrypt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

TEST(PacketCrypt, ScramblesAbcWithKey0x10) {
    // Find a seed whose first pseudo-random byte is 0x10.
    unsigned seed = 0;
    for (;; seed++) {
        srand(seed);
        if ((rand() & 0xFF) == 0x10) break;
    }
    srand(seed);
    BYTE out[8];
    ASSERT_EQ(EncryptPacket(3, reinterpret_cast<const BYTE*>("abc"), sizeof out, out), 4);
    EXPECT_EQ(out[0], 0x10);
    EXPECT_EQ(out[1], 0x71);
    EXPECT_EQ(out[2], 0x52);
    EXPECT_EQ(out[3], 0x73);
}

TEST(PacketCrypt, EveryLengthRoundTrips) {
    srand(1);
    std::vector<BYTE> plain(300), scrambled(404), back(300);
    for (size_t i = 0; i < plain.size(); i++)
        plain[i] = static_cast<BYTE>(i * 37 + 11);
    for (int n = 0; n <= 300; n++) {
        SCOPED_TRACE(n);
        int m =
            EncryptPacket(n, plain.data(), static_cast<int>(scrambled.size()), scrambled.data());
        EXPECT_EQ(m, n / 3 * 4 + (n % 3 ? n % 3 + 1 : 0));
        ASSERT_EQ(DecryptPacket(m, scrambled.data(), static_cast<int>(back.size()), back.data()),
                  n);
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + n, back.begin()));
    }
}

TEST(PacketCrypt, LengthsAndInvalidInputs) {
    BYTE in[64] = {0}, out[64];
    struct Case {
        int n;
        int encrypted;
    } cases[] = {{0, 0}, {1, 2}, {2, 3}, {3, 4}, {16, 22}};
    for (const Case& c : cases) {
        EXPECT_EQ(EncryptPacket(c.n, in, sizeof out, out), c.encrypted) << c.n;
    }
    EXPECT_EQ(DecryptPacket(22, in, sizeof out, out), 16);
    EXPECT_EQ(DecryptPacket(5, in, sizeof out, out), 0);  // a lone key byte
    EXPECT_EQ(DecryptPacket(1, in, sizeof out, out), 0);
    // Output buffers too small: nothing written, 0 returned.
    BYTE small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(EncryptPacket(3, in, 3, small), 0);  // 4q + 4 > 3
    EXPECT_EQ(small[0], 0xEE);
    EXPECT_EQ(DecryptPacket(8, in, 5, out), 0);  // needs 6
    EXPECT_EQ(DecryptPacket(7, in, 4, out), 0);  // needs 5
    EXPECT_EQ(MaxEncryptLen(512), 383);
}
