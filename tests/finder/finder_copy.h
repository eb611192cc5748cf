#pragma once
// A copy of the finder in a temporary folder of its own, so that its settings file lies
// beside it, with a home folder for it, and simulated appliances on loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "ApplianceSim.h"
#include "portlock.h"

class FinderCopyTest : public ::testing::Test {
protected:
    explicit FinderCopyTest(const char* name) : name_(name) {}

    void SetUp() override {
        std::string tmpl = std::string("/tmp/qlx-") + name_ + "-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        std::filesystem::copy_file(QLXSEARCH_PATH, dir / "qlxsearch");
        std::filesystem::create_directories(dir / "home");
    }
    void TearDown() override {
        if (sim)
            sim->stop();
        std::filesystem::remove_all(dir);
    }

    void startSim(std::vector<Appliance> list, ApplianceSim::Options options = {}) {
        sim = std::make_unique<ApplianceSim>(std::move(list), std::move(options));
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
    }

    PortLock ports;
    std::filesystem::path dir;
    std::unique_ptr<ApplianceSim> sim;

private:
    const char* name_;
};
