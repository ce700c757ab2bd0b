// Tag operations against the in-process simulator, each beside a raw
// loopback baseline measured in the same run:
//   a one-tag read round trip     vs a raw request/reply of the same sizes
//   1000-tag reads and advises    as time per tag
//   notification framing+decoding vs a loop that only receives the bytes
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DBCore.h"
#include "Loopback.h"
#include "SimNotify.h"
#include "SimServer.h"

namespace {

const int kTags = 1000;

class CountingCore : public CDBCore {
public:
    ~CountingCore() override { _Disconnect(); }
    void FireTagNotify(CDBDriver&, void*, WORD, const XVariant&) override {
        count.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<long> count{0};
};

struct Fixture {
    char dir[32] = "/tmp/qxdb-bench-XXXXXX";
    std::unique_ptr<CSimServer> sim;
    std::string host;

    Fixture() {
        mkdtemp(dir);
        SSimProject prj;
        prj.name = "BenchPlant";
        prj.users = {{"admin", "secret", 0x0F}};
        prj.folder = dir;
        SSimDriver d;
        d.name = "PLC1";
        for (int i = 0; i < kTags; i++) {
            SSimTag t;
            t.name = "t" + std::to_string(i);
            t.vt = VT_I4;
            t.value = std::to_string(i);
            d.tags.push_back(t);
        }
        prj.drivers = {d};
        std::string err;
        prj.WriteDrvInfo(err);
        sim.reset(new CSimServer(prj));
        sim->Start(0);
        host = "127.0.0.1:" + std::to_string(sim->Port());
    }
    ~Fixture() {
        sim->Stop();
        std::string cmd = std::string("rm -rf ") + dir + " /tmp/qxbrowser/127.0.0.1_" +
                          std::to_string(sim->Port());
        if (system(cmd.c_str()) != 0) {
        }
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

std::string AllNames() {
    std::string names;
    for (int i = 0; i < kTags; i++)
        names += "t" + std::to_string(i) + ",";
    return names;
}

// A connected loopback pair with Nagle off, as the simulator's sockets are.
void LoopbackPair(int& client, int& server) {
    sockaddr_in in;
    int lfd = ListenLoopback(in, 1);
    client = ConnectLoopback(in);
    server = accept(lfd, nullptr, nullptr);
    int on = 1;
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    close(lfd);
}

void BM_RawRoundTrip(benchmark::State& state) {
    int c, s;
    LoopbackPair(c, s);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char req[7], reply[10] = {'H', 0, 6, 0, 3, 0, 1, 0, 0, 0};
        while (!stop && recv(s, req, sizeof req, MSG_WAITALL) == sizeof req) {
            send(s, reply, sizeof reply, 0);
        }
    });
    char req[7] = {'H', 1, 0, 0, 0, 1, 0}, reply[10];
    for (auto _ : state) {
        send(c, req, sizeof req, 0);
        recv(c, reply, 4, MSG_WAITALL);
        recv(c, reply + 4, 6, MSG_WAITALL);
    }
    stop = true;
    shutdown(c, SHUT_RDWR);
    echo.join();
    close(c);
    close(s);
}
BENCHMARK(BM_RawRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_ReadOneTag(benchmark::State& state) {
    CountingCore core;
    if (core._Connect(F().host.c_str(), "admin", "secret") != 0)
        return state.SkipWithError("connect");
    std::shared_ptr<CDBDriver> plc = core._GetDriver("PLC1");
    std::vector<CDBDriver::STag*> tags;
    plc->CheckTagId("t1", tags);  // resolved once, outside the loop
    for (auto _ : state) {
        tags.clear();
        if (!plc->_GetTagValue("t1", tags)) state.SkipWithError("read");
    }
}
BENCHMARK(BM_ReadOneTag)->Unit(benchmark::kMicrosecond);

void BM_Read1000Tags(benchmark::State& state) {
    CountingCore core;
    if (core._Connect(F().host.c_str(), "admin", "secret") != 0)
        return state.SkipWithError("connect");
    std::shared_ptr<CDBDriver> plc = core._GetDriver("PLC1");
    std::string names = AllNames();
    std::vector<CDBDriver::STag*> tags;
    plc->CheckTagId(names.c_str(), tags);
    for (auto _ : state) {
        tags.clear();
        if (!plc->_GetTagValue(names.c_str(), tags)) state.SkipWithError("read");
    }
    state.SetItemsProcessed(state.iterations() * kTags);
}
BENCHMARK(BM_Read1000Tags)->Unit(benchmark::kMicrosecond);

void BM_Advise1000Tags(benchmark::State& state) {
    std::string names = AllNames();
    for (auto _ : state) {
        state.PauseTiming();
        // Advised tags are never advised again: each round needs a fresh driver.
        CountingCore core;
        if (core._Connect(F().host.c_str(), "admin", "secret") != 0) state.SkipWithError("connect");
        std::shared_ptr<CDBDriver> plc = core._GetDriver("PLC1");
        std::vector<CDBDriver::STag*> tags;
        plc->CheckTagId(names.c_str(), tags);
        state.ResumeTiming();
        // 519 items a request at most: the rest in a second call.
        if (!plc->_ConnectTag(names.c_str()) || !plc->_ConnectTag(names.c_str())) {
            state.SkipWithError("advise");
        }
        state.PauseTiming();
        core._Disconnect();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kTags);
}
BENCHMARK(BM_Advise1000Tags)->Unit(benchmark::kMicrosecond)->Iterations(20);

const int kNotifications = 200000;

std::string NotificationBytes() {
    std::string bytes;
    for (int i = 0; i < kNotifications; i++)
        bytes += SimTagMsg(0, i % kTags, XVariant(i));
    return bytes;
}

void BM_RawReceive(benchmark::State& state) {
    std::string bytes = NotificationBytes();
    for (auto _ : state) {
        int c, s;
        LoopbackPair(c, s);
        std::thread sender([&] {
            send(s, bytes.data(), bytes.size(), 0);
            close(s);
        });
        char buf[kRecvBufLen];
        size_t got = 0;
        ssize_t n;
        while ((n = recv(c, buf, sizeof buf, 0)) > 0)
            got += static_cast<size_t>(n);
        sender.join();
        close(c);
        if (got != bytes.size()) state.SkipWithError("short");
    }
    state.SetItemsProcessed(state.iterations() * kNotifications);
}
BENCHMARK(BM_RawReceive)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_NotifyToHook(benchmark::State& state) {
    std::string bytes = NotificationBytes();
    CountingCore core;
    if (core._Connect(F().host.c_str(), "admin", "secret") != 0)
        return state.SkipWithError("connect");
    std::shared_ptr<CDBDriver> plc = core._GetDriver("PLC1");
    std::string names = AllNames();
    std::vector<CDBDriver::STag*> tags;
    plc->_GetTagValue(names.c_str(), tags);  // gives every tag its type
    int handle = 0;
    plc->m_tagNotifyFn = &handle;
    F().sim->WaitForClients(1, 5000);
    for (auto _ : state) {
        long start = core.count.load();
        F().sim->Push(bytes);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (core.count.load() - start < kNotifications) {
            if (std::chrono::steady_clock::now() > deadline) return state.SkipWithError("lost");
            std::this_thread::yield();
        }
    }
    plc->m_tagNotifyFn = nullptr;
    state.SetItemsProcessed(state.iterations() * kNotifications);
}
BENCHMARK(BM_NotifyToHook)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
