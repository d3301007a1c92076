// Helpers of the console tests: output capture, the stand-in engine driven
// in-process from a scenario text, and recording seams.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "console/consoleline.h"
#include "console/operations.h"
#include "console/options.h"
#include "standin/engine.h"

namespace consoletest {

// Captures everything the console model writes while it lives.
class CCaptureWriter : public tarvixconsole::CConsoleWriter {
public:
  CCaptureWriter() { m_previous = tarvixconsole::SetConsoleWriter(this); }
  ~CCaptureWriter() override { tarvixconsole::SetConsoleWriter(m_previous); }
  void Write(const char* text, size_t length) override {
    std::lock_guard<std::mutex> hold(m_lock);
    m_text.append(text, length);
  }
  std::string Text() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_text;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_text.clear();
  }

private:
  tarvixconsole::CConsoleWriter* m_previous = nullptr;
  mutable std::mutex m_lock;
  std::string m_text;
};

// Records what "-ShutdownIfIdle" asks of the system.
class CRecordingPower : public tarvixconsole::CSystemPower {
public:
  void EnableShutdownPrivilege() override { calls.push_back("privilege"); }
  void RequestPowerOff() override { calls.push_back("poweroff"); }
  void Wait(DWORD milliseconds) override { calls.push_back("wait " + std::to_string(milliseconds)); }
  std::vector<std::string> calls;
};

// Input whose ReadChar runs an action first (e.g. fires callbacks).
class CScriptedInput : public tarvixconsole::CConsoleInput {
public:
  int ReadChar() override {
    ++reads;
    if (action) action();
    return '\n';
  }
  std::function<void()> action;
  int reads = 0;
};

// An in-process stand-in engine answering from a scenario text.
inline tarvixlib::CComPtr<tarvixstandin::CStandinEngine> MakeEngine(const std::string& scenarioText) {
  tarvixstandin::CScenario scenario;
  std::string error;
  EXPECT_TRUE(scenario.Parse(scenarioText.data(), scenarioText.size(), error)) << error;
  return tarvixlib::CComObjectMake<tarvixstandin::CStandinEngine>(scenario);
}

// The result of running the operations of one command line.
struct SRun {
  std::string output;
  std::vector<std::string> calls;  // engine calls in order
  std::vector<std::string> power;  // system power calls
  int reads = 0;
};

// Parses `args` (program name added) and runs the operations against a
// stand-in engine answering from `scenario`.
inline SRun RunOperations(const std::vector<std::string>& args, const std::string& scenario) {
  std::vector<const char*> argv = {"vexal-client"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  tarvixconsole::CConsoleCommandLine commandLine;
  commandLine.Parse(static_cast<int>(argv.size()), argv.data());
  const long objectsBefore = tarvixlib::LiveComObjects().load();
  tarvixlib::CComPtr<tarvixstandin::CStandinEngine> engine = MakeEngine(scenario);
  CRecordingPower power;
  CScriptedInput input;
  input.action = [&engine]() { engine->FireRegisteredCallbacks(); };
  SRun run;
  {
    CCaptureWriter capture;
    tarvixconsole::CConsoleOperations operations(engine.Get(), power, input);
    operations.Run(commandLine);
    run.output = capture.Text();
  }
  run.calls = engine->GetCalls();
  run.power = power.calls;
  run.reads = input.reads;
  engine.Reset();
  // The engine, the callback sink and every event object are gone: no
  // reference was kept or dropped too many.
  EXPECT_EQ(tarvixlib::LiveComObjects().load(), objectsBefore);
  return run;
}

}  // namespace consoletest
