#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "DBCore.h"
#include "SimFixture.h"
#include "TempDir.h"

namespace {

const time_t kServerTime = 1700000000;

class DBCoreSyncTest : public SimFixture {
protected:
    void SetUp() override {
        SSimProject prj = TestProject();
        prj.folder = server_.path();
        std::string err;
        ASSERT_TRUE(
            prj.Parse("name TestPlant\nuser admin secret 0x0F\n"
                      "driver PLC1\ntag A I4 1\ntag B R8 2\ndriver Meter\ntag F R4 0\n",
                      err))
            << err;
        prj.folder = server_.path();
        ASSERT_TRUE(prj.WriteDrvInfo(err)) << err;
        TempDir::SetTime(server_.path() + "/RecData/drvinfo.dat", kServerTime);
        drvinfo_ = TempDir::Read(server_.path() + "/RecData/drvinfo.dat");
        StartSim(prj);
    }
    std::string CachePath(const std::string& rel) {
        return CacheDir(sim_->Port()) + "/TestPlant/" + rel;
    }

    TempDir server_;
    std::string drvinfo_;
};

}  // namespace

TEST_F(DBCoreSyncTest, ConnectFetchesAndLoadsTheDriverList) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_EQ(sim_->RequestCount('4'), 1u);
    EXPECT_EQ(TempDir::Read(CachePath("RecData/drvinfo.dat")), drvinfo_);
    EXPECT_EQ(TempDir::MTime(CachePath("RecData/drvinfo.dat")), kServerTime);
    ASSERT_EQ(core.m_mapDrvInfos.size(), 2u);
    EXPECT_EQ(core.m_mapDrvInfos["PLC1"].id, 0);
    EXPECT_EQ(core.m_mapDrvInfos["PLC1"].tagNum, 2);
    EXPECT_EQ(core.m_mapDrvInfos["Meter"].tagNum, 1);
    EXPECT_EQ(core.m_pDrivers.size(), 2u);

    core._Disconnect();
    EXPECT_TRUE(core.m_mapDrvInfos.empty());
    EXPECT_EQ(core.m_pDrivers.size(), 2u);

    // The cached copy is current: the next connect sends no file request.
    CDBCore second;
    ASSERT_EQ(second._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_EQ(sim_->RequestCount('4'), 1u);
    EXPECT_EQ(second.m_mapDrvInfos.size(), 2u);
}

TEST_F(DBCoreSyncTest, FailedTransferFailsTheConnectAndTheNextOneResumes) {
    std::string big(50000, 'x');
    // A driver list this long is unusual, but it shows the resume end to end.
    std::string path = server_.path() + "/RecData/drvinfo.dat";
    server_.Write("RecData/drvinfo.dat", drvinfo_ + big, kServerTime);
    SSimFaults f;
    f.dropAfterBody = 20000;
    sim_->SetFaults(f);
    CDBCore core;
    EXPECT_EQ(core._Connect(host_.c_str(), "admin", "secret"), -2);
    EXPECT_FALSE(core.m_reqSock.IsSocket());
    EXPECT_EQ(std::filesystem::file_size(CachePath("RecData/drvinfo.dat")), 20000u);

    sim_->SetFaults(SSimFaults());
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_TRUE(TempDir::Read(CachePath("RecData/drvinfo.dat")) == drvinfo_ + big);
}

TEST_F(DBCoreSyncTest, ServerWithoutADriverList) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    core._Disconnect();
    std::filesystem::remove(server_.path() + "/RecData/drvinfo.dat");
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    EXPECT_FALSE(TempDir::Exists(CachePath("RecData/drvinfo.dat")));
    EXPECT_TRUE(core.m_mapDrvInfos.empty());
    EXPECT_TRUE(core.m_pDrivers.empty());
}

TEST_F(DBCoreSyncTest, GetPrjFileRules) {
    CDBCore core;
    ASSERT_EQ(core._Connect(host_.c_str(), "admin", "secret"), 0);
    size_t n = sim_->RequestCount('4');
    CFileInfoMap map;
    map["recdata/drvinfo.dat"] =
        SNFileInfo{static_cast<uint32_t>(kServerTime), static_cast<uint32_t>(drvinfo_.size())};
    EXPECT_EQ(core.GetPrjFile("RecData/drvinfo.dat", map), 1);
    EXPECT_EQ(sim_->RequestCount('4'), n);  // current: nothing sent

    // A name outside the server's folders is fetched only when the map
    // holds it, whatever its case; otherwise the local copy goes.
    std::string window = CachePath("Window/main.pic");
    std::ofstream(window) << "old";
    EXPECT_EQ(core.GetPrjFile("Window/main.pic", map), 1);
    EXPECT_FALSE(TempDir::Exists(window));
    EXPECT_EQ(sim_->RequestCount('4'), n);
    server_.Write("Window/Main.pic", "picture", kServerTime);
    map["window/main.pic"] = SNFileInfo{static_cast<uint32_t>(kServerTime), 7};
    EXPECT_EQ(core.GetPrjFile("Window/Main.pic", map), 1);
    EXPECT_EQ(sim_->RequestCount('4'), ++n);
    EXPECT_EQ(TempDir::Read(CachePath("Window/Main.pic")), "picture");  // the name as passed

    server_.Write("SysCfg/cfg.ini", "[cfg]", kServerTime);
    EXPECT_EQ(core.GetPrjFile("SysCfg/cfg.ini", map), 1);
    EXPECT_EQ(sim_->RequestCount('4'), n + 1);
    EXPECT_EQ(TempDir::Read(CachePath("SysCfg/cfg.ini")), "[cfg]");
    EXPECT_EQ(core.GetPrjFile("SysCfg/cfg.ini", map), 1);  // always asked, answered UseLast
    EXPECT_EQ(sim_->RequestCount('4'), n + 2);
}

TEST_F(DBCoreSyncTest, ProjectNameThatWouldLeaveTheCacheRefusesTheConnect) {
    SSimProject prj = TestProject();
    prj.name = "..";
    StartSim(prj);
    CDBCore core;
    EXPECT_EQ(core._Connect(host_.c_str(), "admin", "secret"), -2);
    EXPECT_EQ(sim_->RequestCount('9'), 0u);
}

TEST_F(DBCoreSyncTest, AFolderSwappedForALinkAfterItsCheckIsNotWrittenThrough) {
    // The login reply is held back; meanwhile another user's process swaps
    // the checked RecData folder for a link to a folder of its own.
    SSimFaults f;
    f.loginDelayMs = 400;
    sim_->SetFaults(f);
    TempDir elsewhere;
    const std::string rec = CachePath("RecData");
    std::thread swapper([&] {
        if (!WaitUntil([&] { return std::filesystem::exists(rec + "/Alarm2"); })) return;
        std::filesystem::rename(rec, rec + ".moved");
        std::filesystem::create_directory_symlink(elsewhere.path(), rec);
    });
    CDBCore core;
    int ret = core._Connect(host_.c_str(), "admin", "secret");
    swapper.join();
    EXPECT_EQ(ret, 0);  // a copy that cannot be written is no failure of the connect
    EXPECT_FALSE(std::filesystem::exists(elsewhere.path() + "/drvinfo.dat"));
    EXPECT_TRUE(core.m_mapDrvInfos.empty());  // nor is anything read through the link
    elsewhere.Write("drvinfo.dat", drvinfo_);
    core._Disconnect();
    EXPECT_NE(core._Connect(host_.c_str(), "admin", "secret"),
              0);  // the link is not a folder of ours
    EXPECT_TRUE(core.m_mapDrvInfos.empty());
}
