#include "DBDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DBCore.h"
#include "SimFixture.h"
#include "SimNotify.h"
#include "TempDir.h"

namespace {

// Tag changes as the receive thread delivers them.
struct Change {
    std::string driver, tag;
    XVariant value;
};

class HookCore : public CDBCore {
public:
    ~HookCore() override { _Disconnect(); }
    void FireTagNotify(CDBDriver& drv, void*, WORD pos, const XVariant& value) override {
        std::lock_guard<std::mutex> lock(m_);
        changes_.push_back({drv.m_strDriver, drv.TagName(pos), value});
        cv_.notify_all();
    }
    bool WaitForChanges(size_t n, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return changes_.size() >= n; });
    }
    std::vector<Change> Changes() {
        std::lock_guard<std::mutex> lock(m_);
        return changes_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Change> changes_;
};

// Values written from C++ variants, as a binding's converter would.
class Values : public ITagValues {
public:
    Values(std::vector<XVariant> v, bool bList) : v_(std::move(v)), bList_(bList) {}
    bool IsList() const override { return bList_; }
    size_t Count() const override { return v_.size(); }
    bool Append(size_t i, BYTE* buf, size_t& nLen, size_t nMax) const override {
        if (i == kWholeValue) {
            if (bList_) return false;  // a list is not one value
            i = 0;
        }
        if (i >= v_.size()) return false;
        size_t n = v_[i].ToBuffer(buf + nLen, nMax - nLen, true);
        if (n == 0) return false;
        nLen += n;
        return true;
    }

private:
    std::vector<XVariant> v_;
    bool bList_;
};

// Driver 0 "PLC1": one tag of every supported type; driver 1 "Many": 300
// integer tags t000..t299; driver 2 "Empty": no tags.
SSimProject TagProject() {
    SSimProject prj = TestProject();
    prj.users.push_back({"viewer", "v", 0x01});
    SSimDriver plc;
    plc.name = "PLC1";
    plc.id = 0;
    const std::vector<std::pair<const char*, std::pair<VARTYPE, const char*>>> tags = {
        {"i1", {VT_I1, "-5"}},          {"ui1", {VT_UI1, "200"}},
        {"i2", {VT_I2, "-300"}},        {"ui2", {VT_UI2, "60000"}},
        {"i4", {VT_I4, "-70000"}},      {"ui4", {VT_UI4, "4000000000"}},
        {"int", {VT_INT, "7"}},         {"uint", {VT_UINT, "8"}},
        {"i8", {VT_I8, "10000000000"}}, {"r4", {VT_R4, "1.5"}},
        {"r8", {VT_R8, "2.25"}},        {"bool", {VT_BOOL, "1"}},
        {"date", {VT_DATE, "36526.5"}}, {"str", {VT_BSTR, "level high"}},
    };
    for (auto& t : tags) {
        SSimTag tag;
        tag.name = t.first;
        tag.vt = t.second.first;
        tag.value = t.second.second;
        plc.tags.push_back(tag);
    }
    SSimDriver many;
    many.name = "Many";
    many.id = 1;
    for (int i = 0; i < 300; i++) {
        char name[8];
        snprintf(name, sizeof name, "t%03d", i);
        SSimTag tag;
        tag.name = name;
        tag.vt = VT_I4;
        tag.value = std::to_string(i);
        many.tags.push_back(tag);
    }
    SSimDriver empty;
    empty.name = "Empty";
    empty.id = 2;
    // More tags than one advise (519) or read (1023) request carries.
    SSimDriver big;
    big.name = "Big";
    big.id = 3;
    for (int i = 0; i < 1100; i++) {
        SSimTag tag;
        tag.name = "b" + std::to_string(i);
        tag.vt = VT_I4;
        tag.value = std::to_string(i * 3);
        big.tags.push_back(tag);
    }
    prj.drivers = {plc, many, empty, big};
    return prj;
}

class DBDriverTest : public SimFixture {
protected:
    void SetUp() override {
        SSimProject prj = TagProject();
        prj.folder = server_.path();
        std::string err;
        ASSERT_TRUE(prj.WriteDrvInfo(err)) << err;
        StartSim(prj);
        ASSERT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
        plc_ = core_._GetDriver("PLC1");
        many_ = core_._GetDriver("Many");
        ASSERT_TRUE(plc_ && many_);
    }
    XVariant Read1(CDBDriver& d, const char* name) {
        std::vector<CDBDriver::STag*> tags;
        EXPECT_TRUE(d._GetTagValue(name, tags));
        XVariant v;
        if (tags.size() == 1 && tags[0]) d.CopyTagValue(tags[0]->id, v);
        return v;
    }
    void SetFaults(BYTE code, const std::string& raw, size_t after = 0) {
        SSimFaults f;
        f.rawReplyCode = code;
        f.rawReply = raw;
        f.rawReplyAfter = sim_->RequestCount(code) + after;
        sim_->SetFaults(f);
    }

    TempDir server_;
    HookCore core_;
    std::shared_ptr<CDBDriver> plc_, many_;
};

}  // namespace

TEST_F(DBDriverTest, Registry) {
    EXPECT_EQ(core_._GetDriver("PLC1"), plc_);  // same object, table not rebuilt
    EXPECT_EQ(plc_->GetTagCount(), 14u);
    EXPECT_EQ(plc_->m_drvId, 0);
    EXPECT_FALSE(core_._GetDriver("plc1"));
    EXPECT_FALSE(core_._GetDriver("PLC1 "));
    std::shared_ptr<CDBDriver> empty = core_._GetDriver("Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetTagCount(), 0u);
    EXPECT_EQ(empty->GetTagId("x"), kNoTag);
    EXPECT_EQ(sim_->RequestCount('L'), 0u);

    core_._Disconnect();
    EXPECT_FALSE(core_._GetDriver("PLC1"));
    EXPECT_FALSE(plc_->IsAttached());  // the handle still reaches a live driver
    std::vector<CDBDriver::STag*> tags;
    EXPECT_FALSE(plc_->_GetTagValue("i4", tags));
    ASSERT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
    std::shared_ptr<CDBDriver> again = core_._GetDriver("PLC1");
    ASSERT_TRUE(again);
    EXPECT_NE(again, plc_);
}

TEST_F(DBDriverTest, ResolutionOrderBlanksAndCache) {
    std::vector<CDBDriver::STag*> tags;
    ASSERT_TRUE(plc_->CheckTagId("i2", tags));
    tags.clear();
    ASSERT_TRUE(plc_->CheckTagId(" i1 , ,i2,,nope, i4", tags));
    ASSERT_EQ(tags.size(), 5u);  // ",," yields no entry, " " a null one
    ASSERT_TRUE(tags[0] && tags[2] && tags[4]);
    EXPECT_EQ(tags[0]->strTag, "i1");
    EXPECT_EQ(tags[1], nullptr);
    EXPECT_EQ(tags[2]->strTag, "i2");  // cached, in its place among the new
    EXPECT_EQ(tags[3], nullptr);
    EXPECT_EQ(tags[4]->id, 4);
    EXPECT_EQ(sim_->RequestCount('L'), 2u);

    tags.clear();
    ASSERT_TRUE(plc_->CheckTagId("i4,nope,i1", tags));  // all cached, misses too
    EXPECT_EQ(sim_->RequestCount('L'), 2u);
    EXPECT_EQ(plc_->GetTagId("i4"), 4);
    EXPECT_EQ(plc_->GetTagId("r8"), 10);  // the single-name request
    EXPECT_EQ(sim_->RequestCount('L'), 3u);

    // Names no request may carry resolve to nothing, without a request.
    tags.clear();
    std::string longName(800, 'x');
    ASSERT_TRUE(plc_->CheckTagId(longName.c_str(), tags));
    ASSERT_TRUE(plc_->CheckTagId(TagNamesFromUtf8("i1\xF0\x9F\x98\x80"), tags));
    EXPECT_EQ(tags, (std::vector<CDBDriver::STag*>{nullptr, nullptr}));
    EXPECT_EQ(sim_->RequestCount('L'), 3u);
}

TEST_F(DBDriverTest, NamesFromScriptText) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(TagNamesFromUtf8("a,Tank1\xF0\x9F\x98\x80,\xE4\xB8\xAD"),
              std::string("a,") + kUnconvertibleName + ",\xD6\xD0");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TagNamesFromUtf8(",a,,"), ",a,,");
}

TEST_F(DBDriverTest, BatchesNeverPass768Bytes) {
    std::string names;
    for (int i = 0; i < 300; i++) {
        char name[8];
        snprintf(name, sizeof name, "t%03d,", i);
        names += name;
    }
    // A malformed third reply ends the connection: nothing later may read
    // the rest of it.
    SetFaults('L', "X" + std::string(4 * 82, '\0'), 2);  // the third batch holds 82 names
    std::vector<CDBDriver::STag*> tags;
    EXPECT_FALSE(many_->CheckTagId(names.c_str(), tags));
    EXPECT_EQ(sim_->RequestCount('L'), 3u);
    EXPECT_FALSE(core_.IsConnected());
    tags.clear();
    EXPECT_FALSE(many_->CheckTagId(names.c_str(), tags));  // fails at once, unsent
    EXPECT_EQ(sim_->RequestCount('L'), 3u);
    sim_->SetFaults(SSimFaults());
    ASSERT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
    many_ = core_._GetDriver("Many");
    ASSERT_TRUE(many_);
    tags.clear();
    ASSERT_TRUE(many_->CheckTagId(names.c_str(), tags));
    EXPECT_EQ(sim_->RequestCount('L'), 6u);
    ASSERT_EQ(tags.size(), 300u);
    for (int i = 0; i < 300; i++) {
        ASSERT_TRUE(tags[i]);
        EXPECT_EQ(tags[i]->id, i);
    }
    // 7 bytes a name: 109 names fill 764 bytes; one more would pass 768.
    EXPECT_EQ(sim_->MaxRequestLen('L'), 1u + 109 * 7);
}

TEST_F(DBDriverTest, AdviseReadAndChunksAtEverySplit) {
    const char* all = "i1,ui1,i2,ui2,i4,ui4,int,uint,i8,r4,r8,bool,date,str";
    for (size_t maxChunk : {1, 3, 4, 7, 10, 13, 20, 4096}) {
        SCOPED_TRACE(maxChunk);
        SSimFaults f;
        f.maxChunk = maxChunk;
        sim_->SetFaults(f);
        std::vector<CDBDriver::STag*> tags;
        ASSERT_TRUE(plc_->_GetTagValue(all, tags));
        ASSERT_EQ(tags.size(), 14u);
        for (CDBDriver::STag* t : tags) {
            XVariant want, got;
            ASSERT_TRUE(sim_->GetTag(0, t->id, want));
            ASSERT_TRUE(plc_->CopyTagValue(t->id, got));
            EXPECT_TRUE(got == want) << t->strTag;
        }
    }
    size_t nRead = sim_->RequestCount('H');
    ASSERT_TRUE(plc_->_ConnectTag("i4,str,r8"));
    ASSERT_TRUE(plc_->_ConnectTag("i4,str"));  // advised already: nothing sent
    EXPECT_EQ(sim_->RequestCount('b'), 1u);
    std::vector<CDBDriver::STag*> tags;
    ASSERT_TRUE(plc_->_GetTagValue("i4,str,r8", tags));  // advised: not read
    EXPECT_EQ(sim_->RequestCount('H'), nRead);
    ASSERT_TRUE(plc_->_ConnectTag("nope,,"));  // nothing resolves: nothing sent
    EXPECT_EQ(sim_->RequestCount('b'), 1u);

    for (size_t maxChunk : {1, 9, 4096}) {  // advise replies split too
        std::shared_ptr<CDBDriver> drv = core_._GetDriver("Many");
        SSimFaults f;
        f.maxChunk = maxChunk;
        sim_->SetFaults(f);
        size_t k = maxChunk % 290;
        char names[64];
        snprintf(names, sizeof names, "t%03zu,t%03zu,t%03zu", k, k + 1, k + 2);
        ASSERT_TRUE(drv->_ConnectTag(names));
        XVariant v;
        ASSERT_TRUE(drv->CopyTagValue(static_cast<WORD>(k + 2), v));
        EXPECT_TRUE(v == XVariant(static_cast<int>(k + 2)));
    }
}

TEST_F(DBDriverTest, MalformedChunksFailTheCall) {
    struct Case {
        const char* name;
        BYTE code;
        std::string raw;
    } cases[] = {
        {"read, L beyond 4096", 'H', std::string("H\x00\x01\x10", 4) + std::string(4097, '\0')},
        {"read, wrong code", 'H', std::string("X\x00\x06\x00", 4)},
        {"read, value cut by its chunk", 'H',
         std::string("H\x01\x03\x00\x03\x00\x01", 7) + std::string("H\x00\x03\x00\x00\x00\x00", 7)},
        {"advise, L beyond 4096", 'b', std::string("b\x01\x10", 3) + std::string(4097, '\0')},
        {"advise, value cut by its chunk", 'b', std::string("b\x04\x00\x03\x00\x01\x02", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetFaults(c.code, c.raw);
        std::vector<CDBDriver::STag*> tags;
        if (c.code == 'H') {
            EXPECT_FALSE(plc_->_GetTagValue("i4", tags));
        } else {
            EXPECT_FALSE(plc_->_ConnectTag("ui4"));
        }
        // The connection is out of step now: start afresh.
        sim_->SetFaults(SSimFaults());
        ASSERT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
        plc_ = core_._GetDriver("PLC1");
    }
}

TEST_F(DBDriverTest, ChunksBeyondTheLastValueEndTheConnection) {
    // One value, then a further chunk the server announced: the read has
    // its value, and the next read must never take the stray chunk (43) as
    // its own reply.
    SetFaults('H', std::string("H\x01\x06\x00\x03\x00\x2A\x00\x00\x00", 10) +
                       std::string("H\x00\x06\x00\x03\x00\x2B\x00\x00\x00", 10));
    EXPECT_TRUE(Read1(*plc_, "i4") == XVariant(42));
    sim_->SetFaults(SSimFaults());
    std::vector<CDBDriver::STag*> tags;
    EXPECT_FALSE(plc_->_GetTagValue("ui2", tags));
    EXPECT_FALSE(core_.IsConnected());
    EXPECT_EQ(sim_->RequestCount('H'), 1u);
}

TEST_F(DBDriverTest, WriteResults) {
    std::vector<CDBDriver::STag*> tags;
    struct Case {
        const char* name;
        const char* tags;
        Values values;
        int expect;
    } cases[] = {
        {"one value", "i4", Values({XVariant(41)}, false), kWriteOk},
        {"unknown single name", "nope", Values({XVariant(1)}, false), kWriteBadValue},
        {"two names, no list", "i4,i2", Values({XVariant(1)}, false), kWriteBadValue},
        {"one name, a list", "i4", Values({XVariant(1)}, true), kWriteBadValue},
        {"list too short", "i4,i2", Values({XVariant(1)}, true), kWriteBadValue},
        {"second name unknown", "i2,nope",
         Values({XVariant(static_cast<short>(-9)), XVariant(2)}, true), kWriteOk},
        {"no names", ",,", Values({}, true), kWriteOk},
        {"a blank name", " ", Values({XVariant(1)}, false), kWriteBadValue},
        {"past 2048 bytes", "str", Values({XVariant(std::string(2100, 'x').c_str())}, false),
         kWriteBadValue},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(plc_->SetTagValue(c.tags, c.values), c.expect);
    }
    EXPECT_TRUE(WaitUntil([&] { return sim_->RequestCount('g') == 2; }));
    XVariant v;
    ASSERT_TRUE(sim_->GetTag(0, 4, v));
    EXPECT_TRUE(v == XVariant(41));
    ASSERT_TRUE(sim_->GetTag(0, 2, v));
    EXPECT_TRUE(v == XVariant(static_cast<short>(-9)));

    SetFaults('L', std::string("X\0\0\0\0", 5));  // a whole reply, with the wrong code
    EXPECT_EQ(plc_->SetTagValue("r4", Values({XVariant(1.0f)}, false)), kWriteNotSent);
}

TEST_F(DBDriverTest, WriteRightIsCheckedFirst) {
    HookCore viewer;
    ASSERT_EQ(viewer._Connect(host_.c_str(), "viewer", "v"), 0);
    std::shared_ptr<CDBDriver> d = viewer._GetDriver("PLC1");
    size_t n = sim_->RequestCount('L');
    EXPECT_EQ(d->SetTagValue("i4", Values({XVariant(1)}, false)), kWriteNoRight);
    EXPECT_EQ(sim_->RequestCount('L'), n);
}

TEST_F(DBDriverTest, NotificationsOfEveryTypeReachTheHook) {
    int handle = 0;
    plc_->m_tagNotifyFn = &handle;
    const char* all = "i1,ui1,i2,ui2,i4,ui4,int,uint,i8,r4,r8,bool,date,str";
    ASSERT_TRUE(plc_->_ConnectTag(all));
    std::vector<XVariant> next = {
        XVariant(static_cast<char>(6)),
        XVariant(static_cast<BYTE>(7)),
        XVariant(static_cast<short>(8)),
        XVariant(static_cast<USHORT>(9)),
        XVariant(10),
        XVariant(11u),
        XVariant(12),
        XVariant(13u),
        XVariant(14LL),
        XVariant(15.5f),
        XVariant(16.25, VT_R8),
        XVariant(false),
        XVariant(40000.25, VT_DATE),
        XVariant("level low"),
    };
    for (size_t i = 0; i < next.size(); i++)
        ASSERT_TRUE(sim_->SetTag(0, static_cast<WORD>(i), next[i]));
    ASSERT_TRUE(core_.WaitForChanges(next.size()));
    std::vector<Change> got = core_.Changes();
    ASSERT_EQ(got.size(), next.size());
    for (size_t i = 0; i < got.size(); i++) {
        XVariant want;
        sim_->GetTag(0, static_cast<WORD>(i), want);  // in the tag's own type
        EXPECT_EQ(got[i].driver, "PLC1");
        EXPECT_TRUE(got[i].value == want) << got[i].tag;
        XVariant stored;
        plc_->CopyTagValue(static_cast<WORD>(i), stored);
        EXPECT_TRUE(stored == want);
    }
    EXPECT_EQ(got[13].tag, "str");
    EXPECT_EQ(*got[13].value.pStrVal, "level low");
}

TEST_F(DBDriverTest, NotificationForAnUntypedTagDropsTheRestOfItsRead) {
    int handle = 0;
    plc_->m_tagNotifyFn = &handle;
    ASSERT_TRUE(plc_->_ConnectTag("i4"));
    // r8 was never read: its change cannot be decoded, and the i4 change
    // after it in the same read is dropped with it.
    ASSERT_TRUE(sim_->Push(SimTagMsg(0, 10, XVariant(1.0, VT_R8)) + SimTagMsg(0, 4, XVariant(5))));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(core_.Changes().empty());
    ASSERT_TRUE(sim_->Push(SimTagMsg(0, 4, XVariant(6))));
    ASSERT_TRUE(core_.WaitForChanges(1));
    EXPECT_TRUE(core_.Changes()[0].value == XVariant(6));
}

TEST_F(DBDriverTest, UnadviseIsConfirmed) {
    EXPECT_TRUE(core_.UnadviseTag(7));
    EXPECT_EQ(sim_->RequestCount('d'), 1u);
}

TEST_F(DBDriverTest, ConnectionLostWhileTheScriptReads) {
    std::atomic<bool> stop{false};
    std::atomic<int> ok{0}, failed{0};
    ASSERT_TRUE(plc_->_ConnectTag("i4"));
    std::thread script([&] {
        // The script's thread: reads in a loop through its own handle.
        std::shared_ptr<CDBDriver> drv = plc_;
        while (!stop) {
            std::vector<CDBDriver::STag*> tags;
            if (drv->_GetTagValue("i1,i4,str", tags)) {
                ok++;
            } else {
                failed++;
            }
            XVariant v;
            drv->CopyTagValue(13, v);
        }
    });
    // Changes keep the receive thread writing values while the script reads.
    for (int i = 0; i < 20; i++)
        sim_->SetTag(0, 4, XVariant(i));
    ASSERT_TRUE(WaitUntil([&] { return ok > 20; }));
    sim_->CloseNotify();
    ASSERT_TRUE(WaitUntil([&] { return !core_.IsConnected(); }));
    ASSERT_TRUE(WaitUntil([&] { return failed > 0; }));
    stop = true;
    script.join();
    core_._Disconnect();  // the owner's thread releases the drivers now
    std::vector<CDBDriver::STag*> tags;
    EXPECT_FALSE(plc_->_GetTagValue("i4", tags));  // detached, not destroyed
}

std::string BigNames() {
    std::string names;
    for (int i = 0; i < 1100; i++)
        names += "b" + std::to_string(i) + ",";
    return names;
}

TEST_F(DBDriverTest, CallsLargerThanOneRequestSendSeveral) {
    std::shared_ptr<CDBDriver> big = core_._GetDriver("Big");
    ASSERT_TRUE(big);
    std::string names = BigNames();
    std::vector<CDBDriver::STag*> tags;
    ASSERT_TRUE(big->_GetTagValue(names.c_str(), tags));
    EXPECT_EQ(sim_->RequestCount('H'), 2u);  // 1023 + 77
    ASSERT_EQ(tags.size(), 1100u);
    for (int i = 0; i < 1100; i++) {
        XVariant v;
        ASSERT_TRUE(big->CopyTagValue(static_cast<WORD>(i), v));
        ASSERT_TRUE(v == XVariant(i * 3)) << i;
    }
    ASSERT_TRUE(big->_ConnectTag(names.c_str()));
    EXPECT_EQ(sim_->RequestCount('b'), 3u);  // 519 + 519 + 62
    CDBDriver::STag tag;
    ASSERT_TRUE(big->CopyTag(1099, tag));
    EXPECT_TRUE(tag.bSubscribe);
    // The last tag's changes arrive: the server has it advised.
    ASSERT_TRUE(sim_->SetTag(3, 1099, XVariant(-1)));
    EXPECT_TRUE(WaitUntil([&] {
        XVariant v;
        return big->CopyTagValue(1099, v) && v == XVariant(-1);
    }));
}

TEST_F(DBDriverTest, ReadStopsOnceEveryTagHasItsValue) {
    // A server that leaves the more flag set on its last chunk.
    core_.m_nReplyTimeOut = 60000;
    SetFaults('H', std::string("H\x01\x06\x00\x03\x00\x2A\x00\x00\x00", 10));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Read1(*plc_, "i4") == XVariant(42));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    sim_->SetFaults(SSimFaults());
    EXPECT_TRUE(Read1(*plc_, "ui2") == XVariant(static_cast<USHORT>(60000)));
    EXPECT_TRUE(core_.IsConnected());
}

TEST_F(DBDriverTest, RepliesCutShortLateOrEndlessEndTheConnection) {
    struct Case {
        const char* name;
        std::string reply;
    } cases[] = {
        {"value cut short", std::string("H\x00\x06\x00\x03\x00", 6)},
        {"head cut short", std::string("H\x00", 2)},
        {"endless empty chunks",
         [] {
             std::string s;
             for (int i = 0; i < 2000; i++)
                 s += std::string("H\x01\x00\x00", 4);
             return s;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(core_._Connect(host_.c_str(), "admin", "secret"), 0);
        std::shared_ptr<CDBDriver> plc = core_._GetDriver("PLC1");
        core_.m_nReplyTimeOut = 300;
        std::vector<CDBDriver::STag*> tags;
        ASSERT_TRUE(plc->CheckTagId("i4,ui2", tags));
        SetFaults('H', c.reply);
        tags.clear();
        EXPECT_FALSE(plc->_GetTagValue("i4", tags));
        sim_->SetFaults(SSimFaults());
        // The rest of that reply is never taken for the next one's.
        EXPECT_FALSE(core_.IsConnected());
        size_t nRequests = sim_->RequestCount('H');
        tags.clear();
        EXPECT_FALSE(plc->_GetTagValue("ui2", tags));
        EXPECT_EQ(sim_->RequestCount('H'), nRequests);
    }
}
