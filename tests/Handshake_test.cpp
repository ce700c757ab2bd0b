#include "Handshake.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PacketCrypt.h"
#include "SimProtocol.h"

namespace {

const BYTE kId[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const BYTE kMac[6] = {0xA, 0xB, 0xC, 0xD, 0xE, 0xF};

std::string Plain(const BYTE* packet, int n) {
    BYTE out[512];
    int m = DecryptPacket(n - 1, packet + 1, sizeof out, out);
    return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(m));
}

std::string Scrambled(const std::string& plain) {
    BYTE out[512];
    int m = EncryptPacket(static_cast<int>(plain.size()),
                          reinterpret_cast<const BYTE*>(plain.data()), sizeof out, out);
    return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(m));
}

}  // namespace

TEST(Handshake, FirstPacketForms) {
    BYTE p[kHandshakeBufLen];
    int n = BuildFirstPacket(kId, false, kMac, "ignored", p);
    EXPECT_EQ(n, 1 + 22);  // 16 bytes scramble to 22
    EXPECT_EQ(p[0], '7');
    EXPECT_EQ(Plain(p, n), std::string(reinterpret_cast<const char*>(kId), 16));

    n = BuildFirstPacket(kId, true, kMac, "plant-a", p);
    std::string plain = Plain(p, n);
    ASSERT_EQ(plain.size(), 23u + 7);
    EXPECT_EQ(plain.substr(16, 6), std::string(reinterpret_cast<const char*>(kMac), 6));
    EXPECT_EQ(plain.substr(22), std::string("plant-a") + '\0');

    SFirstPacket seen;
    ASSERT_TRUE(ParseFirstPacket(p, static_cast<size_t>(n), seen));
    EXPECT_TRUE(seen.bExtended);
    EXPECT_EQ(seen.text, "plant-a");
    EXPECT_EQ(BuildFirstPacket(kId, true, kMac, std::string(250, 'x').c_str(), p), 0);
}

TEST(Handshake, SecondPacketCarriesHostNameAndFlags) {
    BYTE p[kHandshakeBufLen];
    int n = BuildSecondPacket(kId, "ws-01", true, p);
    std::string plain = Plain(p, n);
    EXPECT_EQ(p[0], '8');
    ASSERT_EQ(plain.size(), 19u + 5);
    EXPECT_EQ(plain.substr(16), std::string("ws-01\0\x01\x01", 8));

    SSecondPacket seen;
    ASSERT_TRUE(ParseSecondPacket(p, static_cast<size_t>(n), seen));
    EXPECT_EQ(seen.id, std::string(reinterpret_cast<const char*>(kId), 16));
    EXPECT_EQ(seen.hostName, "ws-01");
    EXPECT_TRUE(seen.bAccessDB);

    n = BuildSecondPacket(kId, std::string(300, 'h').c_str(), false, p);
    EXPECT_EQ(Plain(p, n).size(), 19u + kMaxHostName);  // the name is cut
}

TEST(Handshake, FirstReplies) {
    struct Case {
        std::string reply;
        bool bRelayPort;
        EFirstReply expect;
    } cases[] = {
        {"7", false, kFirstAccept},
        {"7anything", false, kFirstAccept},
        {"0", true, kFirstRefuse},
        {"", false, kFirstBad},
        {"x", false, kFirstBad},
        {BuildRedirect(0x0A01A8C0, 4000), true, kFirstRedirect},
        {BuildRedirect(0x0A01A8C0, 4000), false, kFirstAccept},  // not on the relay port
        {BuildRedirect(0x0A01A8C0, 4000).substr(0, 9), true, kFirstAccept},  // too short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        CString lan;
        EXPECT_EQ(ParseFirstReply(reinterpret_cast<const BYTE*>(c.reply.data()),
                                  static_cast<int>(c.reply.size()), c.bRelayPort, lan),
                  c.expect);
        if (c.expect == kFirstRedirect) {
            EXPECT_EQ(lan, "192.168.1.10:4000");
        }
    }
}

TEST(Handshake, SecondReplies) {
    SSimProject prj;
    prj.name = "Plant";
    prj.title = "Main plant";
    std::string ok = BuildSecondReply(prj);
    SNAckRegReq ack;
    CString name, title;
    ASSERT_EQ(ParseSecondReply(reinterpret_cast<const BYTE*>(ok.data()),
                               static_cast<int>(ok.size()), ack, name, title),
              0);
    EXPECT_EQ(name, "Plant");
    EXPECT_EQ(title, "Main plant");

    struct Case {
        std::string plain;
        int expect;
    } cases[] = {
        {"0", kConnectRefused},
        {"00", kConnectFailed},
        {"8" + std::string(58, '\0'), kConnectFailed},  // 59 bytes
        {"9" + std::string(60, '\0'), kConnectFailed},
        {"8" + std::string(58, '\0') + "P", 0},  // name without its NUL: cut at the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plain.size());
        std::string s = Scrambled(c.plain);
        EXPECT_EQ(ParseSecondReply(reinterpret_cast<const BYTE*>(s.data()),
                                   static_cast<int>(s.size()), ack, name, title),
                  c.expect);
    }
    EXPECT_EQ(name, "P");
    EXPECT_EQ(title, "");
}
