// Connect and disconnect against the in-process simulator, beside a baseline
// of two raw loopback TCP connections opened and closed.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "DBCore.h"
#include "Loopback.h"
#include "SimServer.h"

namespace {

SSimProject BenchProject() {
    SSimProject prj;
    prj.name = "BenchPlant";
    prj.users = {{"admin", "secret", 0x0F}};
    return prj;
}

// The simulator, and at exit the client's cache folder for it.
struct BenchSim {
    CSimServer sim{BenchProject()};
    BenchSim() { sim.Start(0); }
    ~BenchSim() {
        sim.Stop();
        std::filesystem::remove_all("/tmp/qxbrowser/127.0.0.1_" + std::to_string(sim.Port()));
    }
};

CSimServer& Sim() {
    static BenchSim s;
    return s.sim;
}

std::string Host() {
    return "127.0.0.1:" + std::to_string(Sim().Port());
}

void BM_RawTwoConnections(benchmark::State& state) {
    sockaddr_in in;
    int lfd = ListenLoopback(in, 64);
    for (auto _ : state) {
        int a = ConnectLoopback(in);
        int sa = accept(lfd, nullptr, nullptr);
        int b = ConnectLoopback(in);
        int sb = accept(lfd, nullptr, nullptr);
        close(a);
        close(b);
        close(sa);
        close(sb);
    }
    close(lfd);
}
BENCHMARK(BM_RawTwoConnections)->Unit(benchmark::kMillisecond);

void BM_Connect(benchmark::State& state) {
    std::string host = Host();
    CDBCore core;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        int ret = core._Connect(host.c_str(), "admin", "secret");
        auto t1 = std::chrono::steady_clock::now();
        if (ret != 0) state.SkipWithError("connect failed");
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        core._Disconnect();
    }
}
BENCHMARK(BM_Connect)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Disconnect(benchmark::State& state) {
    std::string host = Host();
    CDBCore core;
    for (auto _ : state) {
        if (core._Connect(host.c_str(), "admin", "secret") != 0)
            state.SkipWithError("connect failed");
        auto t0 = std::chrono::steady_clock::now();
        core._Disconnect();
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
}
BENCHMARK(BM_Disconnect)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
