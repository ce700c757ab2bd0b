#include "DBCore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "SimNotify.h"

namespace {

// Collects the alarm records the receive thread delivers.
class AlarmCore : public CDBCore {
public:
    ~AlarmCore() override { _Disconnect(); }  // before the hook goes away

    void FireRtAlarm(void*, const S2RtAlarm2& alarm) override {
        BYTE rec[kRtAlarmLen];
        EncodeRtAlarm(alarm, rec);
        std::lock_guard<std::mutex> lock(m_);
        records_.emplace_back(reinterpret_cast<const char*>(rec), sizeof rec);
        cv_.notify_all();
    }
    bool WaitForRecords(size_t n, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return records_.size() >= n; });
    }
    std::vector<std::string> Records() {
        std::lock_guard<std::mutex> lock(m_);
        return records_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> records_;
};

std::string AlarmRecord(BYTE fill) {
    BYTE rec[32];
    for (int i = 0; i < 32; i++)
        rec[i] = static_cast<BYTE>(fill + i);
    return std::string(reinterpret_cast<char*>(rec), 32);
}

std::string AlarmMsg(BYTE fill) {
    std::string rec = AlarmRecord(fill);
    return SimServerMsg(1, 0, 0, "", reinterpret_cast<const BYTE*>(rec.data()));
}

class DBCoreTest : public SimFixture {};

// An unconnected core with driver "PLC1" of id 1 and nTags tags, in nSlots
// driver slots, as a connect would leave it.
std::shared_ptr<CDBDriver> AddDriver(CDBCore& core, WORD nTags, size_t nSlots) {
    SNDrvInfoEx info;
    info.id = 1;
    info.tagNum = nTags;
    core.m_mapDrvInfos["PLC1"] = info;
    core.m_pDrivers.resize(nSlots);
    return core._GetDriver("PLC1");
}

}  // namespace

TEST_F(DBCoreTest, ConnectsAndDisconnects) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_TRUE(core.IsConnected());
    EXPECT_EQ(core.m_nRights, 0x0Fu);
    EXPECT_EQ(core.m_strPrjName, "TestPlant");
    EXPECT_EQ(core.m_strTitle, "Test plant");
    EXPECT_TRUE(sim_->WaitForClients(1, 5000));
    EXPECT_EQ(sim_->RequestCount('9'), 1u);
    core._Disconnect();
    EXPECT_FALSE(core.IsConnected());
    EXPECT_FALSE(core.m_reqSock.IsSocket());
    EXPECT_FALSE(core.m_rcvSock.IsSocket());
    EXPECT_TRUE(WaitUntil([&] { return sim_->ClientCount() == 0; }));
    core._Disconnect();  // a second time does nothing
}

TEST_F(DBCoreTest, ConnectResults) {
    struct Case {
        const char* name;
        SSimFaults::EFirst first;
        SSimFaults::ESecond second;
        int loginReply;
        const char* user;
        const char* password;
        int expect;
    } cases[] = {
        {"wrong password", SSimFaults::kAccept, SSimFaults::kAccept2, -1, "admin", "bad", -1},
        {"unknown user", SSimFaults::kAccept, SSimFaults::kAccept2, -1, "nobody", "", -1},
        {"empty password", SSimFaults::kAccept, SSimFaults::kAccept2, -1, "guest", "", 0},
        {"login '0'", SSimFaults::kAccept, SSimFaults::kAccept2, '0', "admin", "secret", -1},
        {"login 'X'", SSimFaults::kAccept, SSimFaults::kAccept2, 'X', "admin", "secret", -3},
        {"login NUL", SSimFaults::kAccept, SSimFaults::kAccept2, 0, "admin", "secret", -3},
        {"first refused", SSimFaults::kRefuse, SSimFaults::kAccept2, -1, "admin", "secret", -2},
        {"first garbage", SSimFaults::kGarbage, SSimFaults::kAccept2, -1, "admin", "secret", -2},
        {"first silent", SSimFaults::kSilent, SSimFaults::kAccept2, -1, "admin", "secret", -2},
        {"second refused", SSimFaults::kAccept, SSimFaults::kRefuse2, -1, "admin", "secret", -2},
        {"second short", SSimFaults::kAccept, SSimFaults::kShort2, -1, "admin", "secret", -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SSimFaults f;
        f.first = c.first;
        f.second = c.second;
        f.loginReply = c.loginReply;
        sim_->SetFaults(f);
        CDBCore core;
        EXPECT_EQ(core._Connect(host_.c_str(), c.user, c.password), c.expect);
        EXPECT_EQ(core.IsConnected(), c.expect == 0);
        if (c.expect != 0) {
            EXPECT_FALSE(core.m_reqSock.IsSocket());
            EXPECT_FALSE(core.m_rcvSock.IsSocket());
        }
    }
}

TEST_F(DBCoreTest, EmptyProjectNameIsRefused) {
    SSimProject prj = TestProject();
    prj.name = "";
    StartSim(prj);
    CDBCore core;
    EXPECT_EQ(core._Connect(host_.c_str(), "admin", "secret"), -3);
    EXPECT_EQ(sim_->RequestCount('9'), 0u);  // no login was sent
}

TEST_F(DBCoreTest, NoServerAndOverlongCredentials) {
    CDBCore core;
    uint16_t port = sim_->Port();
    sim_->Stop();
    EXPECT_EQ(core._Connect(("127.0.0.1:" + std::to_string(port)).c_str(), "admin", "secret"), -2);

    StartSim(TestProject());
    std::string user(200, 'u'), pwd(54, 'p');  // 200 + 54 + 3 = 257 bytes
    EXPECT_EQ(core._Connect(host_.c_str(), user.c_str(), pwd.c_str()), -1);
    EXPECT_EQ(sim_->AcceptCount(), 0u);  // refused before anything was sent
    pwd.resize(53);                      // 256 bytes fit
    EXPECT_EQ(core._Connect(host_.c_str(), user.c_str(), pwd.c_str()), -1);  // unknown user
    EXPECT_EQ(sim_->RequestCount('9'), 1u);
}

TEST_F(DBCoreTest, HandshakeResults) {
    struct Case {
        const char* name;
        SSimFaults::EFirst first;
        SSimFaults::ESecond second;
        int expect;
    } cases[] = {
        {"accepted", SSimFaults::kAccept, SSimFaults::kAccept2, 0},
        {"first refused", SSimFaults::kRefuse, SSimFaults::kAccept2, E_FAIL},
        {"first garbage", SSimFaults::kGarbage, SSimFaults::kAccept2, kConnectFailed},
        {"first silent", SSimFaults::kSilent, SSimFaults::kAccept2, kConnectFailed},
        {"second refused", SSimFaults::kAccept, SSimFaults::kRefuse2, kConnectRefused},
        {"second short", SSimFaults::kAccept, SSimFaults::kShort2, kConnectFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SSimFaults f;
        f.first = c.first;
        f.second = c.second;
        sim_->SetFaults(f);
        CClientSock sock;
        CString name, title;
        SNAckRegReq ack;
        EXPECT_EQ(sock.ConnectDB(host_.c_str(), name, title, ack, true), c.expect);
        if (c.expect == 0) {
            EXPECT_EQ(name, "TestPlant");
        }
        EXPECT_FALSE(sock.m_bLocalDB);
        sock.StopSock();
    }
    CClientSock sock;
    CString name, title;
    SNAckRegReq ack;
    EXPECT_EQ(sock.ConnectDB("p2p", name, title, ack, true), E_INVALIDARG);
    EXPECT_FALSE(sock.m_reqSock.IsSocket());
    // Three cases opened both connections, three ended at the first; "p2p" none.
    EXPECT_EQ(sim_->AcceptCount(), 9u);
}

TEST_F(DBCoreTest, DisconnectWakesTheBlockedReceiveThread) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    ASSERT_TRUE(sim_->WaitForClients(1, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it block in recv
    auto t0 = std::chrono::steady_clock::now();
    core._Disconnect();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    // Bounded by the thread's exit pause, far below the 16-second wait.
    EXPECT_LT(ms.count(), 2000);
    EXPECT_FALSE(core.IsConnected());
}

TEST_F(DBCoreTest, ServerClosingTheNotificationConnection) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    ASSERT_TRUE(sim_->WaitForClients(1, 5000));
    sim_->CloseNotify();
    EXPECT_TRUE(WaitUntil([&] { return !core.IsConnected(); }));
    core._Disconnect();  // releases what the lost connection left
    EXPECT_FALSE(core.m_reqSock.IsSocket());
    EXPECT_FALSE(core.m_rcvSock.IsSocket());
    EXPECT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);  // and connects anew
    EXPECT_TRUE(sim_->WaitForClients(1, 5000));
}

TEST_F(DBCoreTest, ReconnectAfterDisconnectAndWhileConnected) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    core._Disconnect();
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);  // replaces the first
    EXPECT_TRUE(core.IsConnected());
    EXPECT_TRUE(WaitUntil([&] { return sim_->ClientCount() == 1; }));
    EXPECT_EQ(sim_->RequestCount('9'), 3u);
}

TEST_F(DBCoreTest, AlarmsCutAcrossReads) {
    AlarmCore core;
    int handle = 0;
    core.m_rtAlarmNotifyFn = &handle;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    ASSERT_TRUE(sim_->WaitForClients(1, 5000));
    // Two alarms with a skipped message between; the cut falls inside each.
    std::string bytes = AlarmMsg(0x10) + SimServerMsg(6) + AlarmMsg(0x40);
    size_t expected = 0;
    for (size_t cut : {1, 2, 3, 20, 34, 40, 60}) {
        SCOPED_TRACE(cut);
        ASSERT_TRUE(sim_->Push(bytes, {cut}, 30));
        expected += 2;
        ASSERT_TRUE(core.WaitForRecords(expected));
    }
    std::vector<std::string> recs = core.Records();
    ASSERT_EQ(recs.size(), expected);
    for (size_t i = 0; i < recs.size(); i += 2) {
        EXPECT_EQ(recs[i], AlarmRecord(0x10));
        EXPECT_EQ(recs[i + 1], AlarmRecord(0x40));
    }
}

TEST_F(DBCoreTest, UnframableMessageDropsOnlyTheRestOfItsRead) {
    AlarmCore core;
    int handle = 0;
    core.m_rtAlarmNotifyFn = &handle;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    ASSERT_TRUE(sim_->WaitForClients(1, 5000));
    std::string bad = std::string("\xFF\xFF\x17", 3);  // type 23
    ASSERT_TRUE(sim_->Push(AlarmMsg(1) + bad + AlarmMsg(2)));
    ASSERT_TRUE(core.WaitForRecords(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(sim_->Push(AlarmMsg(3)));  // the next read is parsed normally
    ASSERT_TRUE(core.WaitForRecords(2));
    std::vector<std::string> recs = core.Records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0], AlarmRecord(1));
    EXPECT_EQ(recs[1], AlarmRecord(3));
}

TEST(DBCoreNotify, DispatchTable) {
    CDBCore core;
    std::shared_ptr<CDBDriver> drv = AddDriver(core, 2, 3);
    ASSERT_TRUE(drv);
    drv->PutTagValue(0, XVariant(0));  // tag 0 is a VT_I4

    struct Case {
        const char* name;
        std::string bytes;
        int expect;
    } cases[] = {
        {"type 6 then a tag", SimServerMsg(6) + SimTagMsg(1, 0, XVariant(9)), 20},
        {"tag", SimTagMsg(1, 0, XVariant(7)), 8},
        {"tag of an empty slot", SimTagMsg(2, 0, XVariant(7)), 0xFFFF},
        {"tag beyond the slots", SimTagMsg(5, 0, XVariant(7)), 0xFFFF},
        {"tag beyond the table", SimTagMsg(1, 2, XVariant(7)), 0xFFFF},
        {"alarm without callback", AlarmMsg(0), 35},
        {"type 16 with abc", SimServerMsg(16, 1, 1, "abc"), 11},
        {"type 0", std::string("\xFF\xFF\x00", 3), 0xFFFF},
        {"cut short", SimTagMsg(1, 0, XVariant(7)).substr(0, 6), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(core.OnDBNotify(reinterpret_cast<const BYTE*>(c.bytes.data()),
                                  static_cast<int>(c.bytes.size())),
                  c.expect);
    }
    // The tag after the type-6 message at offset 20 was dispatched too.
    std::string two = SimServerMsg(6) + SimTagMsg(1, 0, XVariant(9));
    const BYTE* p = reinterpret_cast<const BYTE*>(two.data());
    ASSERT_EQ(core.OnDBNotify(p + 20, static_cast<int>(two.size() - 20)), 8);
    XVariant v;
    ASSERT_TRUE(drv->CopyTagValue(0, v));
    EXPECT_TRUE(v == XVariant(9));
    core.ClearDrivers();
    EXPECT_EQ(core.m_pDrivers.size(), 3u);
    EXPECT_EQ(core.m_pDrivers[1].p.load(), nullptr);
}

TEST(DBCoreNotify, TagChangesCutAnywhereWaitForTheRest) {
    CDBCore core;
    std::shared_ptr<CDBDriver> drv = AddDriver(core, 3, 2);
    ASSERT_TRUE(drv);
    drv->PutTagValue(0, XVariant(0));
    drv->PutTagValue(1, XVariant("x"));  // tag 2 has no type yet
    struct Case {
        WORD pos;
        XVariant value;
    } cases[] = {{0, XVariant(-42)}, {1, XVariant("level high")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pos);
        std::string msg = SimTagMsg(1, c.pos, c.value);
        const BYTE* p = reinterpret_cast<const BYTE*>(msg.data());
        for (size_t cut = 0; cut < msg.size(); cut++)
            EXPECT_EQ(core.OnDBNotify(p, static_cast<int>(cut)), 0) << cut;
        XVariant v;
        ASSERT_TRUE(drv->CopyTagValue(c.pos, v));
        EXPECT_FALSE(v == c.value);  // no cut stored anything
        std::string more = msg + "more";
        EXPECT_EQ(core.OnDBNotify(reinterpret_cast<const BYTE*>(more.data()),
                                  static_cast<int>(more.size())),
                  static_cast<int>(msg.size()));
        ASSERT_TRUE(drv->CopyTagValue(c.pos, v));
        EXPECT_TRUE(v == c.value);
    }
    std::string untyped = SimTagMsg(1, 2, XVariant(5));
    EXPECT_EQ(core.OnDBNotify(reinterpret_cast<const BYTE*>(untyped.data()),
                              static_cast<int>(untyped.size())),
              0xFFFF);
    core.ClearDrivers();
}
