// A simulator stopped the moment it starts listening must still stop: tests start and stop
// one per case, many times a second.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "SimSeed.h"
#include "Simulator.h"

TEST(SimulatorStop, StopRightAfterListeningNeverHangs) {
    auto done = std::make_shared<std::promise<std::string>>();
    std::future<std::string> outcome = done->get_future();
    // Detached, so that a hung stop() fails the test instead of hanging the suite.
    std::thread([done] {
        for (int i = 0; i < 300; ++i) {
            korvansim::Simulator sim;
            std::string message;
            if (!sim.loadSeed(korvansim::defaultSeed(korvansim::localHostName(), 1), message) ||
                sim.listenHttp("127.0.0.1", 0, message) < 0)
                return done->set_value(message);
            sim.stop();
        }
        done->set_value("");
    }).detach();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "stop() hung";
    EXPECT_EQ(outcome.get(), "");
}
