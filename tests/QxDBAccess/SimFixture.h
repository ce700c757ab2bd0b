// A fixture with an in-process simulator on 127.0.0.1 and an ephemeral port.
#ifndef QX_TESTS_SIMFIXTURE_H
#define QX_TESTS_SIMFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "SimServer.h"

inline SSimProject TestProject() {
    SSimProject prj;
    prj.name = "TestPlant";
    prj.title = "Test plant";
    prj.users = {{"admin", "secret", 0x0F}, {"guest", "", 0x01}};
    return prj;
}

// Polls cond every few ms for at most timeoutMs.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The cache folder a client keeps for a server on this loopback port.
inline std::string CacheDir(uint16_t port) {
    return "/tmp/qxbrowser/127.0.0.1_" + std::to_string(port);
}

class SimFixture : public testing::Test {
protected:
    void SetUp() override { StartSim(TestProject()); }
    void TearDown() override {
        for (uint16_t port : ports_)
            std::filesystem::remove_all(CacheDir(port));
    }

    // Each server gets a port of its own, so its cache folder is its own too.
    void StartSim(const SSimProject& prj) {
        sim_.reset(new CSimServer(prj));
        std::string err;
        ASSERT_TRUE(sim_->Start(0, &err)) << err;
        host_ = "127.0.0.1:" + std::to_string(sim_->Port());
        std::filesystem::remove_all(CacheDir(sim_->Port()));  // left by an earlier run
        ports_.push_back(sim_->Port());
    }

    std::unique_ptr<CSimServer> sim_;
    std::string host_;
    std::vector<uint16_t> ports_;
};

#endif  // QX_TESTS_SIMFIXTURE_H
