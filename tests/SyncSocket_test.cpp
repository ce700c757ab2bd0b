#include "SyncSocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

namespace {

// Two connected sockets without any network.
struct Pair {
    Pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        a.Attach(fds[0]);
        b.Attach(fds[1]);
    }
    CSyncSocket a, b;
};

}  // namespace

TEST(SyncSocket, SendAllAndRecvAllLengths) {
    Pair p;
    char buf[8];
    EXPECT_TRUE(p.a.SendAll("x", 0));
    EXPECT_FALSE(p.a.SendAll("x", -1));
    EXPECT_TRUE(p.b.RecvAll(buf, 0));
    EXPECT_FALSE(p.b.RecvAll(buf, -1));
    ASSERT_TRUE(p.a.SendAll("abcdefgh", 8));
    ASSERT_TRUE(p.b.RecvAll(buf, 8));
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");
    // RecvAll keeps reading across separate sends, and fails on close.
    std::thread t([&] {
        p.a.SendAll("12", 2);
        p.a.SendAll("34", 2);
        p.a.Close();
    });
    EXPECT_TRUE(p.b.RecvAll(buf, 4));
    EXPECT_EQ(std::string(buf, 4), "1234");
    t.join();
    EXPECT_FALSE(p.b.RecvAll(buf, 1));
}

TEST(SyncSocket, TimeOuts) {
    Pair p;
    char buf[4];
    EXPECT_EQ(p.b.RecvTimeOut(buf, sizeof buf, 20), -3);
    EXPECT_TRUE(p.b.SetTimeOut(0));
    ASSERT_TRUE(p.b.SetTimeOut(1500));
    int ms = 0;
    ASSERT_TRUE(p.b.GetRecvTimeOut(ms));
    EXPECT_EQ(ms, 1500);
    ASSERT_TRUE(p.b.SetRecvTimeOut(30));
    EXPECT_EQ(p.b._Recv(buf, sizeof buf), -1);  // the time-out reads as a failure
    EXPECT_TRUE(p.a.SendTimeOut("ok", 2, 100));
    EXPECT_EQ(p.b.RecvTimeOut(buf, sizeof buf, 100), 2);
}

TEST(SyncSocket, ShutdownWakesABlockedReceive) {
    Pair p;
    int got = 1;
    std::thread t([&] {
        char buf[4];
        got = p.b._Recv(buf, sizeof buf);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    p.b.Shutdown();
    t.join();
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(p.b.IsSocket());  // still held until Close
    p.b.Close();
    EXPECT_FALSE(p.b.IsSocket());
}

TEST(SyncSocket, CentreAddressIsClearedByClose) {
    CScnSocket s;
    s.SetP2PCenterIp(0x0100007F);
    EXPECT_EQ(s.GetP2PCenterIp(), 0x0100007Fu);
    s.Close();
    EXPECT_EQ(s.GetP2PCenterIp(), 0u);
}
