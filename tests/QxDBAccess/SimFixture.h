// A fixture with an in-process simulator on 127.0.0.1 and an ephemeral port.
#ifndef QX_TESTS_SIMFIXTURE_H
#define QX_TESTS_SIMFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
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

class SimFixture : public testing::Test {
protected:
    void SetUp() override { StartSim(TestProject()); }

    void StartSim(const SSimProject& prj) {
        sim_.reset(new CSimServer(prj));
        std::string err;
        ASSERT_TRUE(sim_->Start(0, &err)) << err;
        host_ = "127.0.0.1:" + std::to_string(sim_->Port());
    }

    std::unique_ptr<CSimServer> sim_;
    std::string host_;
};

#endif  // QX_TESTS_SIMFIXTURE_H
