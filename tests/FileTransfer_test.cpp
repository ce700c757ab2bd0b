#include "FileTransfer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ClientSock.h"
#include "QxDBAccess/SimFixture.h"
#include "TempDir.h"

namespace {

const time_t kServerTime = 1700000000;

std::string Bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>((i * 131 + seed) >> 3);
    return s;
}

// A client connection to a simulator that serves the folder server_, and a
// local project folder client_ (ending with '/').
class FileTransferTest : public SimFixture {
protected:
    void SetUp() override {
        SSimProject prj = TestProject();
        prj.folder = server_.path();
        StartSim(prj);
        client_ = local_.path() + "/";
        std::filesystem::create_directories(client_ + "RecData");
        Reconnect();
    }
    void Reconnect() {
        sock_.StopSock();
        CString name, title;
        SNAckRegReq ack;
        ASSERT_EQ(sock_.ConnectDB(host_.c_str(), name, title, ack, true), 0);
    }
    int Get(const char* name, unsigned long mtime = 0xFFFFFFFF, unsigned long size = 0xFFFFFFFF,
            IGetFileCB* cb = nullptr) {
        return GetFile(name, sock_.m_reqSock, '4', client_.c_str(), mtime, size, cb, nullptr);
    }
    std::string Local(const std::string& rel) { return client_ + rel; }

    TempDir server_, local_;
    std::string client_;
    CClientSock sock_;
};

struct Progress : IGetFileCB {
    void OnProgress(int nBytes, bool bDone) override { calls.push_back({nBytes, bDone}); }
    std::vector<std::pair<int, bool>> calls;
};

}  // namespace

TEST(FileTransferHeader, LinesAsATable) {
    struct Case {
        const char* header;
        DWORD size;
        bool hello, exist, useLast, gz, append;
        time_t tt;
        const char* name;
    } cases[] = {
        {"Size:1A\r\n\r\n", 0x1A, false, true, false, false, false, 0, ""},
        {"  sIzE \t:\t 0x1a \r\n\r\n", 0x1A, false, true, false, false, false, 0, ""},
        {"Size:1A\n\n", 0x1A, false, true, false, false, false, 0, ""},
        {"Hello\r\n\r\n", 0, false, true, false, false, false, 0, ""},
        {"Hello:yEs\r\nExist:no\r\n\r\n", 0, true, false, false, false, false, 0, ""},
        {"Exist:Y\r\nUseLast:yesterday\r\n\r\n", 0, false, false, true, false, false, 0, ""},
        {"GZ:Ye\r\nAppend:YES\r\nFileTime:6553F100\r\n\r\n", 0, false, true, false, false, true,
         0x6553F100, ""},
        {"FileName:a b:c\r\nSize:\r\n\r\n", 0, false, true, false, false, false, 0, "abc"},
        {"Size:10\r\nSize:20\r\nOther:1\r\n\r\n", 0x20, false, true, false, false, false, 0, ""},
        {"GZ:Yes\r\n\r\n", 0, false, true, false, true, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        std::string buf = std::string(c.header) + "BODY";
        SCFileInfo fi;
        int n = GetFileInfoByBuf(buf.data(), static_cast<int>(buf.size()), fi);
        EXPECT_EQ(n, static_cast<int>(strlen(c.header)));
        EXPECT_EQ(fi.dwSize, c.size);
        EXPECT_EQ(fi.bHello, c.hello);
        EXPECT_EQ(fi.bExist, c.exist);
        EXPECT_EQ(fi.bUseLast, c.useLast);
        EXPECT_EQ(fi.bGZ, c.gz);
        EXPECT_EQ(fi.bAppend, c.append);
        EXPECT_EQ(fi.tt, c.tt);
        EXPECT_EQ(fi.strName, c.name);
    }
}

TEST(FileTransferHeader, CutAndOverlongHeaders) {
    SCFileInfo fi;
    std::string cut = "Size:10\r\nExist:No";  // no blank line: runs to the end
    EXPECT_EQ(GetFileInfoByBuf(cut.data(), static_cast<int>(cut.size()), fi), 17);
    EXPECT_EQ(fi.dwSize, 0x10u);
    EXPECT_TRUE(fi.bExist);  // a line without its LF does not count

    std::string key(64, 'k');
    std::string longKey = key + ":1\r\n\r\n";
    EXPECT_EQ(GetFileInfoByBuf(longKey.data(), static_cast<int>(longKey.size()), fi),
              static_cast<int>(longKey.size()));
    char var[64], prop[256];
    int pos = 0;
    std::string value = "k:" + std::string(255, 'v') + "\n";
    EXPECT_TRUE(
        ReadHttpCont(value.data(), pos, static_cast<int>(value.size()), var, 63, prop, 255));
    EXPECT_EQ(strlen(prop), 255u);
    pos = 0;
    value = "k:" + std::string(256, 'v') + "\n";
    EXPECT_FALSE(
        ReadHttpCont(value.data(), pos, static_cast<int>(value.size()), var, 63, prop, 255));
}

TEST_F(FileTransferTest, WholeFileThenCurrentCopy) {
    std::string data = Bytes(5000, 1);
    server_.Write("RecData/drvinfo.dat", data, kServerTime);
    Progress p;
    ASSERT_EQ(Get("RecData/drvinfo.dat", 0xFFFFFFFF, 0xFFFFFFFF, &p), 1);
    EXPECT_TRUE(TempDir::Read(Local("RecData/drvinfo.dat")) == data);
    EXPECT_EQ(TempDir::MTime(Local("RecData/drvinfo.dat")), kServerTime);
    ASSERT_FALSE(p.calls.empty());
    EXPECT_TRUE(p.calls.back().second);
    for (size_t i = 0; i + 1 < p.calls.size(); i++)
        EXPECT_FALSE(p.calls[i].second);

    // The server finds the copy current: "UseLast", the file stays as it is.
    ASSERT_EQ(Get("RecData/drvinfo.dat"), 1);
    EXPECT_EQ(sim_->RequestCount('4'), 2u);
    EXPECT_TRUE(TempDir::Read(Local("RecData/drvinfo.dat")) == data);

    // A file that fits the first receive completes at once: one report.
    server_.Write("RecData/small", "tiny", kServerTime);
    Progress one;
    ASSERT_EQ(Get("RecData/small", 0xFFFFFFFF, 0xFFFFFFFF, &one), 1);
    ASSERT_EQ(one.calls.size(), 1u);
    EXPECT_TRUE(one.calls[0].second);
    EXPECT_GT(one.calls[0].first, 4);  // the header counts too
}

TEST_F(FileTransferTest, ThreeSecondRule) {
    server_.Write("RecData/f", "0123456789", kServerTime);
    std::string local = local_.Write("RecData/f", "0123456789", kServerTime + 3);
    EXPECT_EQ(Get("RecData/f", kServerTime, 10), 1);
    TempDir::SetTime(local, kServerTime - 3);
    EXPECT_EQ(Get("RecData/f", kServerTime, 10), 1);
    EXPECT_EQ(sim_->RequestCount('4'), 0u);  // within 3 s: nothing sent
    TempDir::SetTime(local, kServerTime + 4);
    EXPECT_EQ(Get("RecData/f", kServerTime, 10), 1);
    EXPECT_EQ(sim_->RequestCount('4'), 1u);
    TempDir::SetTime(local, kServerTime);
    EXPECT_EQ(Get("RecData/f", kServerTime, 11), 1);  // size differs
    EXPECT_EQ(sim_->RequestCount('4'), 2u);
}

TEST_F(FileTransferTest, AbsentAndCompressed) {
    std::string plain = local_.Write("RecData/gone", "old");
    std::string gz = local_.Write("RecData/gone.gz", "oldgz");
    ASSERT_EQ(Get("RecData/gone"), 1);
    EXPECT_FALSE(TempDir::Exists(plain));
    EXPECT_TRUE(TempDir::Exists(gz));  // the compressed copy is left alone

    server_.Write("RecData/big.gz", "GZBODY", kServerTime);
    std::string keep = local_.Write("RecData/big", "plain stays");
    ASSERT_EQ(Get("RecData/big"), 1);
    EXPECT_EQ(TempDir::Read(Local("RecData/big.gz")), "GZBODY");
    EXPECT_EQ(TempDir::Read(keep), "plain stays");
}

TEST_F(FileTransferTest, ResumesAfterTheServerDropsMidBody) {
    std::string data = Bytes(300000, 7);
    server_.Write("RecData/drvinfo.dat", data, kServerTime);
    SSimFaults f;
    f.dropAfterBody = 100000;
    sim_->SetFaults(f);
    EXPECT_EQ(Get("RecData/drvinfo.dat"), 0);
    std::string local = Local("RecData/drvinfo.dat");
    EXPECT_TRUE(TempDir::Read(local) == data.substr(0, 100000));
    EXPECT_EQ(TempDir::MTime(local), kServerTime);  // stamped although partial

    sim_->SetFaults(SSimFaults());
    Reconnect();
    size_t nAcksBefore = sim_->Acks().size();
    ASSERT_EQ(Get("RecData/drvinfo.dat"), 1);
    EXPECT_TRUE(TempDir::Read(local) == data);
    // The second reply carried only the 200000-byte tail, in two windows.
    std::vector<uint32_t> acks = sim_->Acks();
    ASSERT_EQ(acks.size() - nAcksBefore, 1u);
    EXPECT_EQ(acks.back(), 131072u);
}

TEST_F(FileTransferTest, AppendOfNothingKeepsTheBytesAndSetsTheTime) {
    server_.Write("RecData/same", "abc", kServerTime);
    std::string local = local_.Write("RecData/same", "abc", kServerTime);
    // The copy matches but the caller expects another size: the server says
    // UseLast; a prefix copy with the server's time gets an empty append.
    ASSERT_EQ(Get("RecData/same", 0, 0), 1);
    EXPECT_EQ(TempDir::Read(local), "abc");
    local_.Write("RecData/same", "ab", kServerTime);
    ASSERT_EQ(Get("RecData/same", 0, 0), 1);
    EXPECT_EQ(TempDir::Read(local), "abc");
}

TEST_F(FileTransferTest, PacingAcknowledgesEachShrinkingWindow) {
    const size_t kSize = 700000;
    std::string data = Bytes(kSize, 3);
    server_.Write("RecData/paced", data, kServerTime);
    ASSERT_EQ(Get("RecData/paced"), 1);
    EXPECT_TRUE(TempDir::Read(Local("RecData/paced")) == data);

    // The first window counts the header too.
    char header[128];
    snprintf(header, sizeof header, "Exist:Yes\r\nFileTime:%X\r\nSize:%X\r\nHello:Yes\r\n\r\n",
             static_cast<unsigned>(kServerTime), static_cast<unsigned>(kSize));
    uint64_t left = kSize + strlen(header), window = 0x20000;
    std::vector<uint32_t> expect;
    while (left > window) {
        expect.push_back(static_cast<uint32_t>(window));
        left -= window;
        window = window > 10240 ? window - 10240 : window;
        if (window < 8192) window = 8192;
    }
    EXPECT_EQ(sim_->Acks(), expect);
    ASSERT_GE(expect.size(), 3u);
    EXPECT_EQ(expect[0], 131072u);
    EXPECT_EQ(expect[1], 120832u);
}

TEST_F(FileTransferTest, WindowStopsShrinkingAt8192) {
    const size_t kSize = 1400000;
    std::string data = Bytes(kSize, 5);
    server_.Write("RecData/long", data, kServerTime);
    ASSERT_EQ(Get("RecData/long"), 1);
    EXPECT_TRUE(TempDir::Read(Local("RecData/long")) == data);
    std::vector<uint32_t> acks = sim_->Acks();
    ASSERT_GT(acks.size(), 14u);
    EXPECT_EQ(acks[11], 18432u);  // the last step above 8192
    EXPECT_EQ(acks[12], 8192u);
    EXPECT_EQ(acks.back(), 8192u);
}

TEST_F(FileTransferTest, UnwritableTargetStillConsumesTheBody) {
    server_.Write("RecData/blocked", Bytes(20000, 9), kServerTime);
    server_.Write("RecData/next", "next file", kServerTime);
    std::filesystem::create_directories(Local("RecData/blocked"));  // cannot be opened as a file
    EXPECT_EQ(Get("RecData/blocked"), 1);
    ASSERT_EQ(Get("RecData/next"), 1);  // its reply is read cleanly
    EXPECT_EQ(TempDir::Read(Local("RecData/next")), "next file");
}

TEST(FileTransferFake, FirstReceiveWithMoreThanTheBodyDoesNotWait) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    CSyncSocket client, server;
    client.Attach(fds[0]);
    server.Attach(fds[1]);
    client.SetRecvTimeOut(5000);
    std::string reply = "Exist:Yes\r\nSize:2\r\nHello:Yes\r\n\r\nABCDE";
    ASSERT_TRUE(server.SendAll(reply.data(), static_cast<int>(reply.size())));
    std::string path = dir.path() + "/";
    EXPECT_EQ(GetFile("f", client, '4', path.c_str(), 0, 0, nullptr, nullptr), 1);
    EXPECT_EQ(TempDir::Read(path + "f"), "AB");

    // A server that closes during the body fails the transfer at once.
    reply = "Exist:Yes\r\nSize:10\r\n\r\nABC";
    ASSERT_TRUE(server.SendAll(reply.data(), static_cast<int>(reply.size())));
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server.Shutdown();
    });
    EXPECT_EQ(GetFile("g", client, '4', path.c_str(), 0, 0, nullptr, nullptr), 0);
    closer.join();
    EXPECT_EQ(TempDir::Read(path + "g"), "ABC");
}

TEST_F(FileTransferTest, AFileLargerThanTheLimitIsRefusedUnwritten) {
    // A sparse file one byte over the limit: the server announces its size.
    std::string big = server_.path() + "/RecData/huge";
    std::filesystem::create_directories(server_.path() + "/RecData");
    { std::ofstream f(big, std::ios::binary); }
    std::filesystem::resize_file(big, static_cast<uintmax_t>(kMaxProjectFileSize) + 1);
    EXPECT_EQ(Get("RecData/huge"), 0);
    EXPECT_FALSE(std::filesystem::exists(Local("RecData/huge")));
}
