// The connection's lifecycle against a server or a script that misbehaves:
// a lost notification connection, signals, a callback that drops its own
// connection, a server that never accepts.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "DBCore.h"
#include "SimFixture.h"
#include "SimNotify.h"
#include "TempDir.h"

namespace {

SSimProject OneTagProject(const std::string& folder) {
    SSimProject prj = TestProject();
    SSimDriver d;
    d.name = "PLC1";
    SSimTag t;
    t.name = "n";
    t.vt = VT_I4;
    t.value = "1";
    d.tags.push_back(t);
    prj.drivers = {d};
    prj.folder = folder;
    std::string err;
    EXPECT_TRUE(prj.WriteDrvInfo(err)) << err;
    return prj;
}

// Runs a script's action from inside the tag callback, on the receive thread.
class ActionCore : public CDBCore {
public:
    ~ActionCore() override { _Disconnect(); }  // before the hook goes away
    std::function<void()> onChange;
    std::atomic<int> calls{0};
    std::atomic<bool> returned{false};
    qxthread_t ReceiveThread() const { return m_recvThread; }
    void FireTagNotify(CDBDriver&, void*, WORD, const XVariant&) override {
        calls++;
        if (onChange) onChange();  // may destroy this object: touch nothing after it
    }
};

class DBCoreFaultsTest : public SimFixture {
protected:
    void SetUp() override { StartSim(OneTagProject(dir_.path())); }

    // Connects core and advises tag n with a callback handle set.
    void Advise(ActionCore& core) {
        ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
        std::shared_ptr<CDBDriver> drv = core._GetDriver("PLC1");
        ASSERT_TRUE(drv);
        drv->m_tagNotifyFn = &handle_;
        ASSERT_TRUE(drv->_ConnectTag("n"));
        ASSERT_TRUE(sim_->WaitForClients(1, 5000));
    }

    TempDir dir_;
    int handle_ = 0;
};

void NoOp(int) {}

}  // namespace

TEST_F(DBCoreFaultsTest, LostNotificationConnectionReleasesAtOnce) {
    ActionCore core;
    Advise(core);
    sim_->CloseNotify();
    EXPECT_TRUE(WaitUntil([&] { return !core.IsConnected(); }));
    // Without a further call on the object: lookups give nothing and both
    // connections are closed by the receive thread itself.
    EXPECT_FALSE(core._GetDriver("PLC1"));
    EXPECT_TRUE(
        WaitUntil([&] { return !core.m_reqSock.IsSocket() && !core.m_rcvSock.IsSocket(); }));
    core._Disconnect();
    EXPECT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_TRUE(core._GetDriver("PLC1"));
}

TEST_F(DBCoreFaultsTest, SignalsDoNotEndTheConnection) {
    struct sigaction sa = {}, old = {};
    sa.sa_handler = NoOp;  // no SA_RESTART: a blocked recv returns EINTR
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    ActionCore core;
    Advise(core);
    for (int i = 0; i < 5; i++) {
        pthread_kill(core.ReceiveThread(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(core.IsConnected());
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(5)));
    EXPECT_TRUE(WaitUntil([&] { return core.calls > 0; }));
    sigaction(SIGUSR1, &old, nullptr);
}

TEST_F(DBCoreFaultsTest, DisconnectFromTheCallback) {
    ActionCore core;
    core.onChange = [&] {
        core._Disconnect();  // must neither wait for nor join its own thread
        core.returned = true;
    };
    Advise(core);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(6)));
    ASSERT_TRUE(WaitUntil([&] { return core.returned.load(); }, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_FALSE(core.IsConnected());
    EXPECT_TRUE(WaitUntil([&] { return sim_->ClientCount() == 0; }));
    core._Disconnect();  // joins the thread from here
    EXPECT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
}

TEST_F(DBCoreFaultsTest, DestroyFromTheCallback) {
    ActionCore* core = new ActionCore;
    std::atomic<bool> destroyed{false};
    core->onChange = [core, &destroyed] {
        std::atomic<bool>* flag = &destroyed;  // the lambda goes with the object
        delete core;                           // the driver whose callback runs must outlive this
        *flag = true;
    };
    Advise(*core);
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(7)));
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return sim_->ClientCount() == 0; }));
}

TEST(SyncSocketConnect, BoundedAgainstAServerThatNeverAccepts) {
    // A listener whose accept queue is full drops further connection attempts.
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in = {};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&in), sizeof in), 0);
    ASSERT_EQ(listen(lfd, 0), 0);
    socklen_t len = sizeof in;
    getsockname(lfd, reinterpret_cast<sockaddr*>(&in), &len);
    std::vector<std::unique_ptr<CSyncSocket>> socks;
    bool bRefused = false;
    for (int i = 0; i < 8 && !bRefused; i++) {
        socks.emplace_back(new CSyncSocket);
        ASSERT_TRUE(socks.back()->Create());
        bRefused = !socks.back()->_Connect("127.0.0.1", ntohs(in.sin_port), 300);
    }
    EXPECT_TRUE(bRefused);  // and it came back: the wait had a bound
    close(lfd);
}
