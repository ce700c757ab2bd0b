// Tag operations against the in-process simulator, each beside a raw
// loopback baseline measured in the same run:
//   a one-tag read round trip     vs a raw request/reply of the same sizes
//   1000-tag reads and advises    as time per tag
//   notification framing+decoding vs a loop that only receives the bytes,
//                                 for I4, R8 and 32-byte text records, and
//                                 at 1, 1000 and 50000 changing tags
//   50000-tag advise and read     in one call each, as time per tag
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DBCore.h"
#include "Loopback.h"
#include "SimNotify.h"
#include "SimServer.h"

// Every allocation of the process, so that the notification path can show
// that it makes none per change.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
std::atomic<long> g_allocs{0};

void* operator new(size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    void* p = malloc(n ? n : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}

namespace {

const int kTags = 1000;
const int kBigTags = 50000;

class CountingCore : public CDBCore {
public:
    ~CountingCore() override { _Disconnect(); }
    // A binding's hook takes a read's changes at once.
    void OnNotifyBatch(const CNotifyBatch& batch) override {
        count.fetch_add(static_cast<long>(batch.Size()), std::memory_order_relaxed);
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
        SSimDriver big;
        big.name = "Big";
        big.id = 1;
        for (int i = 0; i < kBigTags; i++) {
            SSimTag t;
            t.name = "b" + std::to_string(i);
            t.vt = VT_I4;
            t.value = "0";
            big.tags.push_back(t);
        }
        prj.drivers = {d, big};
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

std::string AllNames(const char* prefix = "t", int n = kTags) {
    std::string names;
    for (int i = 0; i < n; i++)
        names += prefix + std::to_string(i) + ",";
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

// The records of a stream: I4 (8 bytes), R8 (12 bytes) or text (32 bytes),
// over nTags tags of driver id.
enum EKind { kI4, kR8, kText };

XVariant SampleValue(int kind, int i) {
    if (kind == kI4) return XVariant(i);
    if (kind == kR8) return XVariant(i * 0.5, VT_R8);
    char text[28];
    snprintf(text, sizeof text, "%026d", i);  // 26 digits and NUL: a 32-byte record
    return XVariant(text);
}

std::string NotificationBytes(int kind, WORD id, int nTags) {
    std::string bytes;
    for (int i = 0; i < kNotifications; i++)
        bytes += SimTagMsg(id, static_cast<WORD>(i % nTags), SampleValue(kind, i));
    return bytes;
}

void BM_RawReceive(benchmark::State& state) {
    std::string bytes = NotificationBytes(static_cast<int>(state.range(0)), 0, kTags);
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
BENCHMARK(BM_RawReceive)
    ->Arg(kI4)
    ->Arg(kR8)
    ->Arg(kText)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Framed, decoded into the tags and handed to a no-op hook in batches:
// range(0) the kind, range(1) how many tags of driver Big change.
void BM_NotifyToHook(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0)), nTags = static_cast<int>(state.range(1));
    std::string bytes = NotificationBytes(kind, 1, nTags);
    CountingCore core;
    if (core._Connect(F().host.c_str(), "admin", "secret") != 0)
        return state.SkipWithError("connect");
    std::shared_ptr<CDBDriver> big = core._GetDriver("Big");
    for (int i = 0; i < nTags; i++)
        big->PutTagValue(static_cast<WORD>(i), SampleValue(kind, 0));  // each tag's type
    int handle = 0;
    big->m_tagNotifyFn = &handle;
    F().sim->WaitForClients(1, 5000);
    // One round first, so that the buffers have grown to their steady size.
    F().sim->Push(bytes);
    auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (core.count.load() < kNotifications && std::chrono::steady_clock::now() < warm)
        std::this_thread::yield();
    long allocs = 0;
    for (auto _ : state) {
        long start = core.count.load();
        long allocStart = g_allocs.load();
        F().sim->Push(bytes);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (core.count.load() - start < kNotifications) {
            if (std::chrono::steady_clock::now() > deadline) return state.SkipWithError("lost");
            std::this_thread::yield();
        }
        allocs += g_allocs.load() - allocStart;
    }
    big->m_tagNotifyFn = nullptr;
    state.counters["allocs_per_change"] =
        static_cast<double>(allocs) / (static_cast<double>(state.iterations()) * kNotifications);
    state.SetItemsProcessed(state.iterations() * kNotifications);
}
BENCHMARK(BM_NotifyToHook)
    ->Args({kI4, kTags})
    ->Args({kR8, kTags})
    ->Args({kText, kTags})
    ->Args({kI4, 1})
    ->Args({kI4, kBigTags})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_Advise50000Tags(benchmark::State& state) {
    std::string names = AllNames("b", kBigTags);
    for (auto _ : state) {
        state.PauseTiming();
        CountingCore core;
        if (core._Connect(F().host.c_str(), "admin", "secret") != 0) state.SkipWithError("connect");
        std::shared_ptr<CDBDriver> big = core._GetDriver("Big");
        state.ResumeTiming();
        if (!big->_ConnectTag(names.c_str())) state.SkipWithError("advise");
        state.PauseTiming();
        core._Disconnect();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBigTags);
}
BENCHMARK(BM_Advise50000Tags)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Read50000Tags(benchmark::State& state) {
    CountingCore core;
    if (core._Connect(F().host.c_str(), "admin", "secret") != 0)
        return state.SkipWithError("connect");
    std::shared_ptr<CDBDriver> big = core._GetDriver("Big");
    std::string names = AllNames("b", kBigTags);
    std::vector<CDBDriver::STag*> tags;
    big->CheckTagId(names.c_str(),
                    tags);  // names resolved once, as a script's second read finds them
    for (auto _ : state) {
        tags.clear();
        if (!big->_GetTagValue(names.c_str(), tags)) state.SkipWithError("read");
    }
    state.SetItemsProcessed(state.iterations() * kBigTags);
}
BENCHMARK(BM_Read50000Tags)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
