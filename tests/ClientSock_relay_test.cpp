// Handshakes on the relay port 3968, which the relay form and the LAN
// redirect require. The port is shared: CTest serialises these tests, and
// each skips when something else holds it.
#include <gtest/gtest.h>

#include "ClientSock.h"
#include "DBCore.h"
#include "QxDBAccess/SimFixture.h"

namespace {

class RelayPort : public testing::Test {
protected:
    void SetUp() override {
        relay_.reset(new CSimServer(TestProject()));
        std::string err;
        if (!relay_->Start(3968, &err)) GTEST_SKIP() << "port 3968 is taken: " << err;
    }
    void TearDown() override { std::filesystem::remove_all(CacheDir(3968)); }
    std::unique_ptr<CSimServer> relay_;
};

}  // namespace

TEST_F(RelayPort, CentreFormGoesToTheGivenAddress) {
    for (const char* host : {"p2p(127.0.0.1):plant-7", "P2P(127.0.0.1):plant-7"}) {
        SCOPED_TRACE(host);
        CClientSock sock;
        CString name, title;
        SNAckRegReq ack;
        ASSERT_EQ(sock.ConnectDB(host, name, title, ack, true), 0);
        EXPECT_EQ(name, "TestPlant");
        EXPECT_EQ(relay_->LastTarget(), "plant-7");  // the extended first packet
        EXPECT_FALSE(sock.m_bLocalDB);
        EXPECT_TRUE(relay_->WaitForClients(1, 5000));
        sock.StopSock();
        EXPECT_TRUE(WaitUntil([&] { return relay_->ClientCount() == 0; }));
    }
}

TEST_F(RelayPort, DirectFormOnTheRelayPortCarriesTheHost) {
    CDBCore core;
    ASSERT_EQ(core._Connect("127.0.0.1:3968", "admin", "secret"), 0);
    EXPECT_EQ(relay_->LastTarget(), "127.0.0.1");
    EXPECT_FALSE(core.m_bLan);
}

TEST_F(RelayPort, LanRedirect) {
    SSimProject lanPrj = TestProject();
    lanPrj.name = "LanPlant";
    CSimServer lan(lanPrj);
    ASSERT_TRUE(lan.Start(0));
    struct Cleanup {
        uint16_t port;
        ~Cleanup() { std::filesystem::remove_all(CacheDir(port)); }
    } cleanup{lan.Port()};
    SSimFaults f;
    f.first = SSimFaults::kRedirect;
    f.redirectPort = lan.Port();
    relay_->SetFaults(f);

    CDBCore core;
    testing::internal::CaptureStdout();
    int ret = core._Connect("127.0.0.1:3968", "admin", "secret");
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(out, "Is same lan ...\n");
    EXPECT_TRUE(core.m_bLan);
    EXPECT_EQ(core.m_strPrjName, "LanPlant");
    EXPECT_EQ(relay_->ClientCount(), 0u);
    EXPECT_TRUE(lan.WaitForClients(1, 5000));

    // A redirect back to the relay port itself ends after a few rounds.
    f.redirectPort = 3968;
    relay_->SetFaults(f);
    CDBCore loop;
    testing::internal::CaptureStdout();
    EXPECT_EQ(loop._Connect("127.0.0.1:3968", "admin", "secret"), -2);
    testing::internal::GetCapturedStdout();
}
