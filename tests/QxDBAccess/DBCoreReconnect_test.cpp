// The connection's state and its restoration: pauses that grow to their
// maximum, the same drivers advised again after the server drops every
// connection, attempts that stop at the limit, and requests that never wait
// for an attempt under way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "DBCore.h"
#include "SimFixture.h"
#include "TempDir.h"

namespace {

struct OneInt : ITagValues {
    bool IsList() const override { return false; }
    size_t Count() const override { return 1; }
    bool Append(size_t, BYTE* buf, size_t& nLen, size_t nMax) const override {
        if (nLen + 5 > nMax) return false;
        const BYTE v[5] = {VT_I4, 1, 0, 0, 0};
        memcpy(buf + nLen, v, sizeof v);
        nLen += sizeof v;
        return true;
    }
};

TEST(Backoff, DoublesUpToTheMaximumWithJitterBelowIt) {
    SReconnectSettings s;
    s.nInitialDelayMs = 100;
    s.nMaxDelayMs = 1000;
    const struct {
        int attempt;
        double jitter;
        int ms;
    } cases[] = {{1, 0.0, 80},  {1, 1.0, 100},  {2, 0.0, 160},   {3, 0.5, 360}, {4, 1.0, 800},
                 {5, 0.0, 800}, {5, 1.0, 1000}, {40, 1.0, 1000}, {1, -3.0, 80}, {1, 7.0, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(BackoffDelayMs(s, c.attempt, c.jitter), c.ms) << c.attempt << " " << c.jitter;
}

TEST(Backoff, SettingsAreClamped) {
    SReconnectSettings s;
    s.nInitialDelayMs = -5;
    s.nMaxDelayMs = 0;
    s.nMaxAttempts = -2;
    SReconnectSettings c = ClampReconnect(s);
    EXPECT_EQ(c.nInitialDelayMs, 1);
    EXPECT_EQ(c.nMaxDelayMs, 1);
    EXPECT_EQ(c.nMaxAttempts, 0);
    s.nInitialDelayMs = 5000;
    s.nMaxDelayMs = 10;
    EXPECT_EQ(ClampReconnect(s).nMaxDelayMs, 5000);
    EXPECT_STREQ(DBStateName(kStateReconnecting), "reconnecting");
    EXPECT_STREQ(DBStateName(99), "unknown");
}

SSimProject TwoTagProject(const std::string& folder) {
    SSimProject prj = TestProject();
    SSimDriver d;
    d.name = "PLC1";
    for (const char* name : {"a", "b"}) {
        SSimTag t;
        t.name = name;
        t.vt = VT_I4;
        t.value = "1";
        d.tags.push_back(t);
    }
    prj.drivers = {d};
    prj.folder = folder;
    std::string err;
    EXPECT_TRUE(prj.WriteDrvInfo(err) && prj.WriteLists(err)) << err;
    return prj;
}

// Records what the binding would be told.
class StateCore : public CDBCore {
public:
    StateCore() { SetStateNotifyFn(this); }
    ~StateCore() override { _Disconnect(); }
    void FireStateNotify(void*, EDBState s) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_states.push_back(s);
    }
    void FireTagNotify(CDBDriver&, void*, WORD pos, const XVariant& v) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_last[pos] = static_cast<int>(v.ToDouble());
        m_changes++;
    }
    void FireRtAlarm(void*, const S2RtAlarm2&) override { m_alarms++; }
    std::vector<EDBState> States() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_states;
    }
    int Last(WORD pos) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_last[pos];
    }
    std::atomic<int> m_changes{0};
    std::atomic<int> m_alarms{0};

private:
    std::mutex m_lock;
    std::vector<EDBState> m_states;
    int m_last[2] = {0, 0};
};

class DBCoreReconnectTest : public SimFixture {
protected:
    void SetUp() override {
        StartSim(TwoTagProject(dir_.path()));
        SReconnectSettings s;
        s.bEnabled = true;
        s.nInitialDelayMs = 10;
        s.nMaxDelayMs = 40;
        core_.SetAutoReconnect(s);
    }
    std::shared_ptr<CDBDriver> ConnectAndAdvise() {
        EXPECT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
        std::shared_ptr<CDBDriver> drv = core_._GetDriver("PLC1");
        EXPECT_TRUE(drv);
        if (!drv) return drv;
        drv->m_tagNotifyFn = &fn_;
        EXPECT_TRUE(drv->_ConnectTag("a,b"));
        EXPECT_TRUE(sim_->WaitForClients(1, 5000));
        return drv;
    }
    size_t Logins() { return sim_->RequestCount('9'); }
    TempDir dir_;
    int fn_ = 0;
    StateCore core_;
};

TEST_F(DBCoreReconnectTest, DroppedConnectionIsRestoredWithTheSameDrivers) {
    std::shared_ptr<CDBDriver> drv = ConnectAndAdvise();
    ASSERT_TRUE(drv);
    ASSERT_EQ(core_._SetRtAlarmNotify(&fn_, false), 0);
    ASSERT_EQ(sim_->AlarmClients(), 1u);
    ASSERT_TRUE(sim_->SetTag(0, 1, XVariant(41)));
    ASSERT_TRUE(WaitUntil([&] { return core_.Last(1) == 41; }));

    sim_->DropAll();
    ASSERT_TRUE(WaitUntil([&] { return core_.States().size() == 4; }));
    EXPECT_EQ(core_.GetState(), kStateConnected);
    const std::vector<EDBState> want = {kStateConnecting, kStateConnected, kStateReconnecting,
                                        kStateConnected};
    EXPECT_EQ(core_.States(), want);
    // The script's handle is the driver in use, advised again: both tags
    // change, and a lookup gives the same object.
    EXPECT_EQ(core_._GetDriver("PLC1"), drv);
    EXPECT_TRUE(drv->IsAttached());
    const int before = core_.m_changes;
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(7)));
    ASSERT_TRUE(sim_->SetTag(0, 1, XVariant(8)));
    EXPECT_TRUE(WaitUntil([&] { return core_.Last(0) == 7 && core_.Last(1) == 8; }));
    EXPECT_GE(core_.m_changes - before, 2);
    EXPECT_TRUE(WaitUntil([&] { return sim_->AlarmClients() == 1; }));
    EXPECT_EQ(sim_->RequestCount('n'), 2u);

    core_._Disconnect();
    EXPECT_EQ(core_.GetState(), kStateClosed);
    EXPECT_FALSE(drv->IsAttached());
}

TEST_F(DBCoreReconnectTest, ValuesMissedWhileDownArriveOnReturn) {
    std::shared_ptr<CDBDriver> drv = ConnectAndAdvise();
    ASSERT_TRUE(drv);
    sim_->RefuseLogins(1000);
    sim_->DropAll();
    ASSERT_TRUE(WaitUntil([&] { return core_.ReconnectAttempts() >= 2; }));
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(99)));  // no client is there to be told
    sim_->RefuseLogins(0);
    ASSERT_TRUE(WaitUntil([&] { return core_.Last(0) == 99; }));
    EXPECT_EQ(core_.GetState(), kStateConnected);
    EXPECT_EQ(Logins(), 1u + core_.ReconnectAttempts());
}

TEST_F(DBCoreReconnectTest, AttemptsStopAtTheLimitWithTheLongestPause) {
    SReconnectSettings s = core_.GetAutoReconnect();
    s.nMaxAttempts = 5;
    core_.SetAutoReconnect(s);
    ASSERT_TRUE(ConnectAndAdvise());
    sim_->RefuseLogins(1000);
    sim_->DropAll();
    ASSERT_TRUE(WaitUntil([&] { return core_.GetState() == kStateClosed; }));
    EXPECT_EQ(core_.ReconnectAttempts(), 5);
    EXPECT_EQ(Logins(), 1u + 5u);
    // 10, 20, 40, 40, 40 ms, each scaled by 0.8 to 1.
    EXPECT_GE(core_.LastBackoffMs(), 32);
    EXPECT_LE(core_.LastBackoffMs(), 40);
    EXPECT_NE(core_.LastError().find("reconnect gave up after 5 attempts: login refused"),
              std::string::npos)
        << core_.LastError();
    EXPECT_EQ(core_.States().back(), kStateClosed);
}

TEST_F(DBCoreReconnectTest, RequestsFailAtOnceWhileAnAttemptHoldsTheConnection) {
    std::shared_ptr<CDBDriver> drv = ConnectAndAdvise();
    ASSERT_TRUE(drv);
    SSimFaults slow;
    slow.loginDelayMs = 2000;  // each attempt holds the request lock this long
    sim_->SetFaults(slow);
    sim_->DropAll();
    ASSERT_TRUE(WaitUntil([&] { return Logins() == 2; }));
    const auto start = std::chrono::steady_clock::now();
    std::vector<CDBDriver::STag*> tags;
    EXPECT_FALSE(drv->_GetTagValue("a", tags));
    EXPECT_EQ(drv->SetTagValue("a", OneInt()), kWriteNotSent);
    EXPECT_FALSE(core_._GetDriver("PLC1"));
    EXPECT_EQ(core_._SetRtAlarmNotify(&fn_, false), -2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    // The owner's disconnect waits for that attempt, then wins.
    sim_->SetFaults(SSimFaults());
    core_._Disconnect();
    EXPECT_EQ(core_.GetState(), kStateClosed);
    EXPECT_FALSE(core_.IsConnected());
    EXPECT_TRUE(WaitUntil([&] { return sim_->ClientCount() == 0; }));
}

TEST_F(DBCoreReconnectTest, DisconnectEndsTheWaitBetweenAttempts) {
    SReconnectSettings s = core_.GetAutoReconnect();
    s.nInitialDelayMs = s.nMaxDelayMs = 60000;
    core_.SetAutoReconnect(s);
    ASSERT_TRUE(ConnectAndAdvise());
    sim_->DropAll();
    ASSERT_TRUE(WaitUntil([&] { return core_.GetState() == kStateReconnecting; }));
    const auto start = std::chrono::steady_clock::now();
    core_._Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(core_.GetState(), kStateClosed);
    EXPECT_EQ(Logins(), 1u);
    // A connect afterwards is a connection like the first.
    EXPECT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_EQ(core_.GetState(), kStateConnected);
}

}  // namespace
