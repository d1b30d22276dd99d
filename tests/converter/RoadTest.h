#pragma once
// The common set-up of the road tests: a scripted fake server registered under its ProgID, the
// status file beside the test program removed before and after, the road's console caught.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "automation/Com.h"

namespace testsupport {

inline std::string Status() {
  return ReadFile(StatusFile());
}
inline bool HasStatus() {
  return std::filesystem::exists(StatusFile());
}

template <typename Fake>
class RoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveStatusFile();
    fake_.Register();
  }
  void TearDown() override { RemoveStatusFile(); }

  // Runs the road with its console caught in console_.
  int RunCaught(const std::function<int()>& road) {
    CapturedStdout out;
    const int result = road();
    console_ = out.Text();
    return result;
  }

  Fake fake_;
  std::string console_;
};

// A road that gives up in order: what it writes and which calls it makes on the way.
template <typename Fake>
struct OrderlyFailure {
  const char* name;
  std::function<void(Fake&)> setup;
  std::string console;
  std::string status;
  std::vector<std::string> events;
};

// Runs `road` once per case on a fresh fake: it must return 1 with exactly the case's console,
// status and calls, with automation ended and every reference given back.
template <typename Fake>
void ExpectOrderlyFailures(std::span<const OrderlyFailure<Fake>> cases,
                           const std::function<int(Fake&)>& road) {
  for (const OrderlyFailure<Fake>& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveStatusFile();
    Fake fake;
    fake.Register();
    c.setup(fake);
    CapturedStdout out;
    EXPECT_EQ(road(fake), 1);
    EXPECT_EQ(out.Text(), c.console);
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(fake.journal.events, c.events);
    EXPECT_FALSE(automation::IsComInitialized());
    EXPECT_TRUE(fake.AllReleased());
  }
}

}  // namespace testsupport
