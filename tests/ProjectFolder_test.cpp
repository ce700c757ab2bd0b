#include "ProjectFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "ClientSock.h"
#include "QxDBAccess/SimFixture.h"
#include "TempDir.h"

namespace {

// A host text of our own, so that the cache folder is this test's.
std::string TestHost() {
    return "folder-test:" + std::to_string(getpid());
}

std::string HostDir() {
    return std::string(kCacheRoot) + "folder-test_" + std::to_string(getpid());
}

class ProjectFolderTest : public testing::Test {
protected:
    void SetUp() override { std::filesystem::remove_all(HostDir()); }
    void TearDown() override { std::filesystem::remove_all(HostDir()); }

    bool After(const CString& name) {
        CString err;
        sock_.m_bLocalDB = false;
        return sock_.AfterConnect(TestHost().c_str(), name, err);
    }
    CClientSock sock_;
};

mode_t Mode(const std::string& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(ProjectFolderNames, Table) {
    struct Case {
        const char* text;
        bool ok;
        const char* name;
    } cases[] = {
        {"10.0.0.1:80", true, "10.0.0.1_80"},
        {"a:b:c", true, "a_b_c"},
        {"../../etc", true, ".._.._etc"},
        {"a/b", true, "a_b"},
        {"/", true, "_"},
        {"..", false, ""},
        {".", false, ""},
        {"Plant\xD6\xD0", true, "Plant\xD6\xD0"},
        {"Plant\xFF", false, ""},  // would not convert to UTF-8 whole
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CString name;
        testing::internal::CaptureStderr();
        EXPECT_EQ(MakeFolderName(c.text, false, name), c.ok);
        testing::internal::GetCapturedStderr();
        if (c.ok) {
            EXPECT_EQ(name, c.name);
        }
    }
    CString name;
    EXPECT_TRUE(MakeFolderName("", true, name));
    EXPECT_FALSE(MakeFolderName("", false, name));
}

TEST(ProjectFolderNames, ProjectPathReply) {
    struct Case {
        std::string reply;
        bool ok;
    } cases[] = {
        {std::string("3a/\0b\0c\0d\0", 11), true},
        {std::string("3\0\0\0\0", 5), true},
        {std::string("3a/\0b\0c\0d", 9), false},  // the fourth path is cut
        {std::string("3a/\0b\0", 6), false},
        {std::string("4a/\0b\0c\0d\0", 11), false},
        {std::string(""), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.size());
        CString p1("x"), p2("x"), p3("x"), p4("x");
        EXPECT_EQ(ParsePrjPathReply(reinterpret_cast<const BYTE*>(c.reply.data()),
                                    static_cast<int>(c.reply.size()), p1, p2, p3, p4),
                  c.ok);
        if (c.ok && c.reply.size() == 11) {
            EXPECT_EQ(p1, "a/");
            EXPECT_EQ(p4, "d");
        }
        if (c.ok && c.reply.size() == 5) {
            EXPECT_TRUE(p1.IsEmpty() && p4.IsEmpty());
        }
    }
}

TEST_F(ProjectFolderTest, CreatesTheTreeAndReusesIt) {
    // GB2312 project name: the folder on disk is its UTF-8 form.
    const CString name("Plant\xD6\xD0");
    ASSERT_TRUE(After(name));
    std::string prj = HostDir() + "/Plant\xE4\xB8\xAD";
    EXPECT_EQ(sock_.m_strPrjPath, CString(HostDir() + "/") + name + "/");
    EXPECT_EQ(CT2UTF8(sock_.m_strPrjPath), prj + "/");
    for (const char* sub : {"Window", "3DWnd", "Report", "CtmGph", "ScnDrv", "DBDrv", "Media",
                            "SysCfg", "RecData", "ExtData", "RecData/Event", "RecData/Alarm2"}) {
        EXPECT_TRUE(std::filesystem::is_directory(prj + "/" + sub)) << sub;
    }
    EXPECT_EQ(Mode(HostDir()), 0700u);
    EXPECT_EQ(Mode(prj), 0700u);
    EXPECT_EQ(Mode(prj + "/RecData/Alarm2"), 0700u);

    // An existing tree is the normal case: nothing in it is removed.
    TempDir::SetTime(prj, 0);
    std::ofstream(prj + "/RecData/keep") << "kept";
    chmod(HostDir().c_str(), 0755);
    ASSERT_TRUE(After(name));
    EXPECT_EQ(TempDir::Read(prj + "/RecData/keep"), "kept");
    EXPECT_EQ(Mode(HostDir()), 0700u);  // its mode is set again
}

TEST_F(ProjectFolderTest, NamesThatWouldLeaveTheRootAreRefused) {
    EXPECT_FALSE(After(".."));
    EXPECT_FALSE(After("."));
    ASSERT_TRUE(After("../escape"));
    EXPECT_TRUE(std::filesystem::is_directory(HostDir() + "/.._escape"));
    EXPECT_FALSE(std::filesystem::exists(std::string(kCacheRoot) + "escape"));
}

TEST_F(ProjectFolderTest, PlantedLinksAndForeignFoldersAreNotUsed) {
    TempDir elsewhere;
    std::filesystem::create_directories(kCacheRoot);
    ASSERT_EQ(symlink(elsewhere.path().c_str(), HostDir().c_str()), 0);
    EXPECT_FALSE(After("Plant"));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));  // nothing went through the link
    std::filesystem::remove(HostDir());

    ASSERT_TRUE(After("Plant"));
    std::string rec = HostDir() + "/Plant/RecData";
    std::filesystem::remove_all(rec);
    ASSERT_EQ(symlink(elsewhere.path().c_str(), rec.c_str()), 0);
    EXPECT_FALSE(After("Plant"));
    std::filesystem::remove(rec);

    ASSERT_TRUE(After("Plant"));
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    ASSERT_EQ(chown((HostDir() + "/Plant").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(After("Plant"));
}

TEST_F(ProjectFolderTest, EmptyHostGoesStraightUnderTheRoot) {
    CString err;
    sock_.m_bLocalDB = false;
    std::string prj = "qxdb-empty-host-" + std::to_string(getpid());
    ASSERT_TRUE(sock_.AfterConnect("", prj.c_str(), err));
    EXPECT_EQ(sock_.m_strPrjPath, std::string(kCacheRoot) + "/" + prj + "/");
    EXPECT_TRUE(std::filesystem::is_directory(std::string(kCacheRoot) + prj + "/RecData"));
    std::filesystem::remove_all(std::string(kCacheRoot) + prj);
}

class LocalServerTest : public SimFixture {};

TEST_F(LocalServerTest, AsksTheServerForItsFolders) {
    TempDir server;
    SSimProject prj = TestProject();
    prj.folder = server.path();
    StartSim(prj);
    CClientSock sock;
    CString name, title, err;
    SNAckRegReq ack;
    ASSERT_EQ(sock.ConnectDB(host_.c_str(), name, title, ack, true), 0);
    sock.m_bLocalDB = true;  // as a Windows client on the server's machine would be
    ASSERT_TRUE(sock.AfterConnect(host_.c_str(), name, err));
    EXPECT_EQ(sock.m_strPrjPath, server.path() + "/");
    EXPECT_EQ(sock.m_strAlarmPath, server.path() + "/RecData/Alarm2/");
    EXPECT_EQ(sim_->RequestCount('3'), 1u);
    EXPECT_FALSE(std::filesystem::exists(CacheDir(sim_->Port())));  // nothing created

    sim_->Stop();  // no reply: refused with the fixed text
    EXPECT_FALSE(sock.AfterConnect(host_.c_str(), name, err));
    EXPECT_EQ(err, "\xCE\xDE\xB7\xA8\xBB\xF1\xC8\xA1\xB9\xA4\xB3\xCC\xC2\xB7\xBE\xB6");
}

TEST(CacheRoot, RefusedRootsFallBackToTheUsersOwnCache) {
    TempDir tmp;
    const std::string primary = tmp.path() + "/qxbrowser";
    const std::string xdg = tmp.path() + "/xdg";
    const std::string home = tmp.path() + "/home";
    std::filesystem::create_directories(xdg);
    std::filesystem::create_directories(home);
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string xdgCache;
        std::string expect;
    } cases[] = {
        {"made anew, 0700", [] {}, xdg, primary + "/"},
        {"writable by others",
         [&] {
             mkdir(primary.c_str(), 0700);
             chmod(primary.c_str(), 0777);
         },
         xdg, xdg + "/qxbrowser/"},
        {"a link", [&] { symlink(home.c_str(), primary.c_str()); }, xdg, xdg + "/qxbrowser/"},
        {"another user's, no XDG_CACHE_HOME",
         [&] {
             mkdir(primary.c_str(), 0700);
             if (chown(primary.c_str(), 65534, 65534) != 0) {
             }
         },
         "", home + "/.cache/qxbrowser/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(primary);
        std::filesystem::remove_all(xdg + "/qxbrowser");
        std::filesystem::remove_all(home + "/.cache");
        if (std::string(c.name).find("another") == 0 && geteuid() != 0) continue;
        c.prepare();
        XDir root;
        std::string path;
        ASSERT_TRUE(OpenCacheRoot(primary.c_str(),
                                  c.xdgCache.empty() ? nullptr : c.xdgCache.c_str(), home.c_str(),
                                  root, path));
        EXPECT_EQ(path, c.expect);
        std::string made = path.substr(0, path.size() - 1);
        EXPECT_EQ(Mode(made), 0700u);
    }
    XDir root;
    std::string path;
    std::filesystem::remove_all(primary);
    ASSERT_EQ(symlink(home.c_str(), primary.c_str()), 0);
    EXPECT_FALSE(OpenCacheRoot(primary.c_str(), nullptr, nullptr, root, path));  // nowhere to go
}
