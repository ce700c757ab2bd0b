// The alarm subscription against the simulator: results, replay, the lists
// that name alarms, and alarms raised and returned by tag values.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "DBCore.h"
#include "SimFixture.h"
#include "TempDir.h"

namespace {

// The alarms delivered, with the thread each came on.
class AlarmCore : public CDBCore {
public:
    ~AlarmCore() override { _Disconnect(); }
    void FireRtAlarm(void* fn, const S2RtAlarm2& alarm) override {
        std::lock_guard<std::mutex> lock(m_);
        alarms_.push_back(alarm);
        fns_.push_back(fn);
        onReceiveThread_.push_back(OnReceiveThread());
        cv_.notify_all();
    }
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return alarms_.size() >= n; });
    }
    std::vector<S2RtAlarm2> Alarms() {
        std::lock_guard<std::mutex> lock(m_);
        return alarms_;
    }
    std::vector<bool> OnReceive() {
        std::lock_guard<std::mutex> lock(m_);
        return onReceiveThread_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<S2RtAlarm2> alarms_;
    std::vector<void*> fns_;
    std::vector<bool> onReceiveThread_;
};

// Tank.Level alarms above 10 ("High level", "Tanks"); the tag list is
// Tank.Level, Tank.Temp; the text list High level, Tanks.
SSimProject AlarmProject(const std::string& folder) {
    SSimProject prj = TestProject();
    SSimDriver d;
    d.name = "PLC1";
    SSimTag level;
    level.name = "Tank.Level";
    level.vt = VT_R8;
    level.value = "5";
    SSimAlarmLimit hi;
    hi.bHigh = true;
    hi.limit = 10;
    hi.level = 2;
    hi.type = "High level";
    hi.group = "Tanks";
    level.alarms.push_back(hi);
    SSimTag temp;
    temp.name = "Tank.Temp";
    temp.vt = VT_R8;
    temp.value = "20";
    d.tags = {level, temp};
    prj.drivers = {d};
    prj.folder = folder;
    std::string err;
    EXPECT_TRUE(prj.WriteDrvInfo(err) && prj.WriteLists(err)) << err;
    return prj;
}

S2RtAlarm2 Record(WORD tid, WORD type, WORD grp, uint32_t evttm) {
    S2RtAlarm2 a;
    a.almtm = 1700000000 + tid;
    a.evttm = evttm;
    a.tid = tid;
    a.type = type;
    a.grp = grp;
    a.level = 4;
    a.status = 1;
    a.value = 11.5;
    a.limit = 10;
    return a;
}

class DBCoreAlarmTest : public SimFixture {
protected:
    void SetUp() override {
        StartSim(AlarmProject(dir_.path()));
        ASSERT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
        ASSERT_TRUE(sim_->WaitForClients(1, 5000));
    }
    TempDir dir_;
    AlarmCore core_;
    int fn_ = 0;
};

}  // namespace

TEST_F(DBCoreAlarmTest, ReplaysActiveAlarmsInOrderWithTheirNames) {
    sim_->RaiseAlarm(Record(0, 0, 1, 0));
    sim_->RaiseAlarm(Record(1, 1, 0, 1700000100));
    sim_->RaiseAlarm(Record(2, 2, 7, 0));  // every index beyond its list
    size_t nFiles = sim_->RequestCount('4');
    ASSERT_EQ(core_._SetRtAlarmNotify(&fn_, true), 0);
    std::vector<S2RtAlarm2> got = core_.Alarms();  // all of them before the return
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].tid, i);
        EXPECT_EQ(got[i].almtm, 1700000000 + i);
        EXPECT_EQ(got[i].level, 4);
        EXPECT_EQ(got[i].status, 1);
        EXPECT_EQ(got[i].value, 11.5);
        EXPECT_EQ(got[i].limit, 10);
        EXPECT_FALSE(core_.OnReceive()[i]);  // the replay runs on the subscriber's thread
    }
    EXPECT_EQ(got[1].evttm, 1700000100u);
    EXPECT_EQ(got[1].type, 1);
    EXPECT_STREQ(AlarmText(core_.m_tagList, got[0].tid), "Tank.Level");
    EXPECT_STREQ(AlarmText(core_.m_textList, got[0].grp), "Tanks");
    EXPECT_STREQ(AlarmText(core_.m_textList, got[1].type), "Tanks");
    EXPECT_STREQ(AlarmText(core_.m_tagList, got[2].tid), "???");
    EXPECT_STREQ(AlarmText(core_.m_textList, got[2].type), "???");
    EXPECT_STREQ(AlarmText(core_.m_textList, got[2].grp), "???");
    // Both lists were fetched, once.
    EXPECT_EQ(sim_->RequestCount('4'), nFiles + 2);
    ASSERT_EQ(core_.m_textList.size(), 2u);
    EXPECT_EQ(core_.m_tagList.size(), 2u);
    EXPECT_EQ(core_._SetRtAlarmNotify(&fn_, true), -1);
    EXPECT_EQ(sim_->RequestCount('4'), nFiles + 2);
}

TEST_F(DBCoreAlarmTest, WithoutReplayTheActiveAlarmsAreReadAndDropped) {
    for (WORD i = 0; i < 3; i++)
        sim_->RaiseAlarm(Record(i, 0, 0, 0));
    ASSERT_EQ(core_._SetRtAlarmNotify(&fn_, false), 0);
    EXPECT_TRUE(core_.Alarms().empty());
    // The reply was read whole: the connection is still in step.
    std::shared_ptr<CDBDriver> drv = core_._GetDriver("PLC1");
    std::vector<CDBDriver::STag*> tags;
    ASSERT_TRUE(drv && drv->_GetTagValue("Tank.Temp", tags));
    EXPECT_TRUE(core_.IsConnected());
}

TEST_F(DBCoreAlarmTest, Results) {
    struct Case {
        const char* name;
        std::string reply;
    } cases[] = {
        {"head not n", std::string("x\x00\x00", 3)},
        {"record cut short", std::string("n\x01\x00", 3) + std::string(20, '\x01')},
        {"fewer records than counted", std::string("n\x02\x00", 3) + std::string(32, '\x01')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmCore core;
        ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
        core.m_nReplyTimeOut = 300;
        SSimFaults f;
        f.rawReplyCode = 'n';
        f.rawReply = c.reply;
        f.rawReplyAfter = sim_->RequestCount('n');
        sim_->SetFaults(f);
        EXPECT_EQ(core._SetRtAlarmNotify(&fn_, true), -2);
        EXPECT_EQ(core.m_rtAlarmNotifyFn.load(), nullptr);
        EXPECT_TRUE(core.Alarms().empty());
        EXPECT_FALSE(core.IsConnected());  // what is left of the reply is never read as another's
        sim_->SetFaults(SSimFaults());
    }
    // A second subscription sends nothing and keeps the first callback.
    int other = 0;
    ASSERT_EQ(core_._SetRtAlarmNotify(&fn_, false), 0);
    size_t nSent = sim_->RequestCount('n');
    EXPECT_EQ(core_._SetRtAlarmNotify(&other, false), -1);
    EXPECT_EQ(sim_->RequestCount('n'), nSent);
    EXPECT_EQ(core_.m_rtAlarmNotifyFn.load(), &fn_);
}

TEST_F(DBCoreAlarmTest, RaisedAndReturnedAlarmsArriveOnTheReceiveThread) {
    ASSERT_EQ(core_._SetRtAlarmNotify(&fn_, true), 0);
    ASSERT_TRUE(WaitUntil([&] { return sim_->AlarmClients() == 1; }));
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(12.0, VT_R8)));  // above the limit: type 1
    ASSERT_TRUE(core_.WaitFor(1));
    ASSERT_TRUE(sim_->SetTag(0, 0, XVariant(4.0, VT_R8)));  // back below it: type 3
    ASSERT_TRUE(core_.WaitFor(2));
    std::vector<S2RtAlarm2> got = core_.Alarms();
    EXPECT_EQ(got[0].tid, 0);
    EXPECT_EQ(got[0].status, 1);
    EXPECT_EQ(got[0].value, 12.0);
    EXPECT_EQ(got[0].limit, 10.0);
    EXPECT_EQ(got[0].evttm, 0u);
    EXPECT_STREQ(AlarmText(core_.m_textList, got[0].type), "High level");
    EXPECT_EQ(got[1].status, 0);
    EXPECT_NE(got[1].evttm, 0u);
    EXPECT_EQ(got[1].almtm, got[0].almtm);
    EXPECT_TRUE(core_.OnReceive()[0] && core_.OnReceive()[1]);
}
