// A 64 MiB project file fetched over loopback, with and without pacing,
// beside a baseline: the same bytes copied file to socket to file with no
// protocol at all.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClientSock.h"
#include "FileTransfer.h"
#include "Loopback.h"
#include "SimServer.h"

namespace {

const size_t kFileSize = 64u << 20;

struct Fixture {
    std::string serverDir, clientDir;
    std::unique_ptr<CSimServer> sim;

    Fixture() {
        char s[] = "/tmp/qxdb-bench-XXXXXX";
        serverDir = mkdtemp(s);
        char c[] = "/tmp/qxdb-bench-XXXXXX";
        clientDir = std::string(mkdtemp(c)) + "/";
        std::filesystem::create_directories(serverDir + "/RecData");
        std::filesystem::create_directories(clientDir + "RecData");
        std::vector<char> data(kFileSize);
        for (size_t i = 0; i < data.size(); i++)
            data[i] = static_cast<char>(i * 2654435761u >> 24);
        std::ofstream(serverDir + "/RecData/big", std::ios::binary).write(data.data(), data.size());
        SSimProject prj;
        prj.folder = serverDir;
        sim.reset(new CSimServer(prj));
        sim->Start(0);
    }
    ~Fixture() {
        sim->Stop();
        std::filesystem::remove_all(serverDir);
        std::filesystem::remove_all(clientDir);
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

void BM_PlainSocketCopy(benchmark::State& state) {
    Fixture& f = F();
    sockaddr_in in;
    int lfd = ListenLoopback(in, 4);
    std::string src = f.serverDir + "/RecData/big", dst = f.clientDir + "RecData/plain";
    for (auto _ : state) {
        std::thread sender([&] {
            int s = accept(lfd, nullptr, nullptr);
            int fd = open(src.c_str(), O_RDONLY);
            std::vector<char> buf(65536);
            ssize_t n;
            while ((n = read(fd, buf.data(), buf.size())) > 0)
                send(s, buf.data(), n, 0);
            close(fd);
            close(s);
        });
        int c = ConnectLoopback(in);
        int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char buf[kFileRecvLen];
        ssize_t n;
        while ((n = recv(c, buf, sizeof buf, 0)) > 0) {
            if (write(out, buf, n) != n) break;
        }
        close(out);
        close(c);
        sender.join();
    }
    close(lfd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_PlainSocketCopy)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GetFile(benchmark::State& state) {
    Fixture& f = F();
    SSimFaults faults;
    faults.bPacing = state.range(0) != 0;
    f.sim->SetFaults(faults);
    CClientSock sock;
    CString name, title;
    SNAckRegReq ack;
    if (sock.ConnectDB(("127.0.0.1:" + std::to_string(f.sim->Port())).c_str(), name, title, ack,
                       true) != 0) {
        fprintf(stderr, "no connection\n");
        state.SkipWithError("no connection");
        return;
    }
    std::string local = f.clientDir + "RecData/big";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(local);
        state.ResumeTiming();
        if (GetFile("RecData/big", sock.m_reqSock, '4', f.clientDir.c_str(), 0, 0, nullptr,
                    nullptr) != 1) {
            fprintf(stderr, "transfer failed: %s\n", strerror(errno));
            state.SkipWithError("transfer failed");
        }
    }
    if (std::filesystem::file_size(local) != kFileSize) {
        fprintf(stderr, "short file\n");
        state.SkipWithError("short file");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_GetFile)
    ->ArgName("paced")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
