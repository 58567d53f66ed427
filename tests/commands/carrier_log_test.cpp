// The carrier log between checks: what one check writes the next reads back, a first check
// finds nothing, and a log that cannot be written says why.

#include "commands/carrier_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

class CarrierLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() /
                  ("tarvik-carrier-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

TEST_F(CarrierLogTest, WhatOneCheckKeepsTheNextReads)
{
    // The state folder does not exist before the first check.
    const std::string path = (folder_ / "state" / "carrier-changes").string();
    const CarrierLog first = CarrierLog::Load(path);
    EXPECT_FALSE(first.Last("tva0"));

    CarrierLog log = first;
    log.Set("tva0", {7, 1'796'900'000'000});
    log.Set("tva0.12", {2, 1'796'900'000'001});
    std::string error;
    ASSERT_TRUE(log.Save(path, error)) << error;

    CarrierLog next = CarrierLog::Load(path);
    EXPECT_EQ(next.Last("tva0"), (CarrierRecord{7, 1'796'900'000'000}));
    EXPECT_EQ(next.Last("tva0.12"), (CarrierRecord{2, 1'796'900'000'001}));
    EXPECT_FALSE(next.Last("tva1"));
    // A later check replaces the interface's record and keeps the others.
    next.Set("tva0", {9, 1'796'900'060'000});
    ASSERT_TRUE(next.Save(path, error)) << error;
    EXPECT_EQ(CarrierLog::Load(path).Last("tva0"), (CarrierRecord{9, 1'796'900'060'000}));
    EXPECT_EQ(CarrierLog::Load(path).Last("tva0.12"), (CarrierRecord{2, 1'796'900'000'001}));
    EXPECT_FALSE(fs::exists(path + ".partial"));
}

TEST_F(CarrierLogTest, LinesThatAreNoRecordArePassedOver)
{
    const CarrierLog log = CarrierLog::FromText("# comment\n"
                                                "tva0 3 1796900000000\n"
                                                "tva1 x 1796900000000\n"
                                                "tva2 4\n"
                                                "tva3 5 1796900000000 extra\n"
                                                "tva4 -1 1796900000000\n");
    EXPECT_EQ(log.Last("tva0"), (CarrierRecord{3, 1'796'900'000'000}));
    for (const char* name : {"tva1", "tva2", "tva3", "tva4"}) {
        EXPECT_FALSE(log.Last(name)) << name;
    }
}

TEST_F(CarrierLogTest, ALogThatCannotBeWrittenSaysWhy)
{
    fs::create_directories(folder_);
    // Its folder is a file.
    std::ofstream(folder_ / "state") << "not a folder";
    CarrierLog log;
    log.Set("tva0", {1, 0});
    std::string error;
    EXPECT_FALSE(log.Save((folder_ / "state" / "carrier-changes").string(), error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvik
