// LastError(): the reason a connect or a request failed, one per class of
// failure, beside the unchanged result codes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "DBCore.h"
#include "ProjectFolder.h"
#include "SimFixture.h"
#include "TempDir.h"

namespace {

SSimProject OneDriverProject() {
    SSimProject prj = TestProject();
    SSimDriver d;
    d.name = "PLC1";
    for (int i = 0; i < 40; i++)
        d.tags.push_back({"t" + std::to_string(i), VT_I4, "1", "", {}});
    prj.drivers.push_back(d);
    return prj;
}

class DBCoreErrorsTest : public SimFixture {
protected:
    void SetUp() override {
        SSimProject prj = OneDriverProject();
        prj.folder = folder_.path();
        std::string err;
        ASSERT_TRUE(prj.WriteDrvInfo(err)) << err;
        StartSim(prj);
    }
    TempDir folder_;
};

TEST_F(DBCoreErrorsTest, ConnectFailuresSayWhy) {
    struct Case {
        const char* name;
        SSimFaults faults;
        const char* user;
        int expect;
        std::string why;  // a part of LastError()
    };
    SSimFaults refuse, garbage, second, drop;
    refuse.first = SSimFaults::kRefuse;
    garbage.first = SSimFaults::kGarbage;
    second.second = SSimFaults::kRefuse2;
    drop.dropAfterBody = 3;  // of the 9 bytes of the driver list
    const std::string at = host_ + ": ";
    const Case cases[] = {
        {"login refused", SSimFaults(), "nobody", -1, "login refused for user 'nobody'"},
        {"handshake refused", refuse, "admin", -2, at + "the server refused the connection"},
        {"bad first reply", garbage, "admin", -2, at + "handshake failed: unexpected reply"},
        {"notification refused", second, "admin", -2,
         at + "the server refused the notification connection"},
        {"driver list cut", drop, "admin", -2,
         "driver list transfer failed: connection closed after 3 of 9 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_->SetFaults(c.faults);
        CDBCore core;
        EXPECT_EQ(core._Connect(host_.c_str(), c.user, c.user[0] == 'a' ? "secret" : "x"),
                  c.expect);
        EXPECT_NE(core.LastError().find(c.why), std::string::npos) << core.LastError();
    }
}

TEST_F(DBCoreErrorsTest, NothingListens) {
    CDBCore core;
    EXPECT_EQ(core._Connect("127.0.0.1:1", "admin", "secret"), -2);
    EXPECT_EQ(core.LastError(), "127.0.0.1:1: connection refused");
}

TEST_F(DBCoreErrorsTest, RequestFailuresSayWhy) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_EQ(core.LastError(), "");  // nothing failed
    std::shared_ptr<CDBDriver> drv = core._GetDriver("PLC1");
    ASSERT_TRUE(drv);
    std::vector<CDBDriver::STag*> tags;
    ASSERT_TRUE(drv->_GetTagValue("t1", tags));

    // A read whose reply never completes, within a short reply time.
    core.m_nReplyTimeOut = 300;
    SSimFaults stall;
    stall.rawReplyCode = 'H';
    stall.rawReply = "H";
    sim_->SetFaults(stall);
    tags.clear();
    EXPECT_FALSE(drv->_GetTagValue("t2", tags));
    EXPECT_EQ(core.LastError(), "read failed: reply timed out after 0.3 s");
    tags.clear();
    EXPECT_FALSE(drv->_GetTagValue("t3", tags));
    EXPECT_EQ(core.LastError(), "read failed: reply timed out after 0.3 s");  // kept
}

TEST_F(DBCoreErrorsTest, LostConnectionAndRights) {
    CDBCore guest;
    ASSERT_EQ(guest._Connect(host_.c_str(), "guest", ""), 0);
    std::shared_ptr<CDBDriver> drv = guest._GetDriver("PLC1");
    ASSERT_TRUE(drv);
    struct None : ITagValues {
        bool IsList() const override { return false; }
        size_t Count() const override { return 0; }
        bool Append(size_t, BYTE*, size_t&, size_t) const override { return false; }
    };
    EXPECT_EQ(drv->SetTagValue("t1", None()), kWriteNoRight);
    EXPECT_EQ(guest.LastError(), "write refused: the user has no write right");
    sim_->CloseNotify();
    ASSERT_TRUE(WaitUntil([&] { return !guest.IsConnected(); }));
    EXPECT_EQ(guest.LastError(), "connection lost: the server closed it");
    CDBCore never;
    EXPECT_EQ(never._SetRtAlarmNotify(nullptr, false), -2);
    EXPECT_EQ(never.LastError(), "not connected");
}

TEST(CacheRootErrors, SayWhichFolderAndWhy) {
    TempDir tmp;
    const std::string open = tmp.path() + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    XDir root;
    std::string path, why;
    EXPECT_FALSE(OpenCacheRoot(open.c_str(), nullptr, nullptr, root, path, &why));
    EXPECT_EQ(why, "cache folder " + open +
                       " is writable by others, and neither $XDG_CACHE_HOME nor $HOME is set");
}

}  // namespace
