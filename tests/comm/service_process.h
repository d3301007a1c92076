// The stand-in security service as a child process for the pipe tests (see
// testkit::CChildProcess): its output is collected while it runs; closing
// its input stops it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "comm/client.h"
#include "kit/childprocess.h"
#include "kit/names.h"

namespace commtest {

using testkit::ReadFileText;
using testkit::TempPath;
using testkit::UniquePipeName;

class CServiceProcess : public testkit::CChildProcess {
public:
  ~CServiceProcess() override;
  // Starts the service on `pipe` with the scenario text (empty: none) and,
  // when logPath is not empty, that log file; waits until it listens.
  bool Start(const std::string& pipe, const std::string& scenario,
             const std::string& logPath = std::string());
  // Stops it and removes its scenario file.
  bool Stop();

private:
  std::string scenarioPath_;
};

// A command client of the add-in's kind on the test's own pipe.
struct Client {
  explicit Client(const std::string& pipe,
                  uint32_t limitMs = tarvixlib::commands::comm::kAddinTimeLimitMs)
      : comm(".", tarvixlib::commands::comm::kMailAddinType,
             tarvixlib::commands::comm::kServiceTypeBits, 0, limitMs) {
    comm.Dispatcher().SetPipeName(pipe.c_str());
  }
  tarvixlib::commands::comm::CSimpleTarvixComm comm;
};

// A test with a pipe of its own for the service it may start; a service
// that was started must stop cleanly when its input closes.
class ServiceProcessTest : public ::testing::Test {
protected:
  void SetUp() override {
    pipe = UniquePipeName(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    if (service.Started()) {
      EXPECT_TRUE(service.Stop());
      EXPECT_EQ(service.ExitCode(), 0u) << service.Output();
    }
  }
  std::string pipe;
  CServiceProcess service;
};

}  // namespace commtest
