// The pipe watcher against a service played by the test: absent, refusing
// the registration, holding its reply, falling silent, and a registered
// listener that the service sends its notifications to. Every pause and
// limit is configured short; the watcher is stopped in each phase.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "comm/protocol.h"
#include "comm/session.h"
#include "kit/names.h"
#include "kit/pipes.h"
#include "mapilib/appdetails.h"
#include "mapilib/pipewatcher.h"
#include "mapilib/textids.h"
#include "tableclient.h"

namespace mapilib {
namespace {

using tarvixlib::CMyLogBuf;
using tarvixlib::CMySynchronizedBlock;
using tarvixlib::CMyThreadSave;
using tarvixlib::comm::CTarvixSession;
using tarvixlib::comm::OwnPipe;

// A language choice the test can change between loads.
class CSwitchableLanguage : public CLanguageSettings {
public:
  std::atomic<const char*> code{"en"};
  bool ReadLanguage(bool machineWide, CMyStringA& out) override {
    if (machineWide) return false;
    out = code.load();
    return true;
  }
  uint32_t ReadForceMachineLanguage() override { return 0; }
  bool WriteLanguage(bool, const char*) override { return true; }
  bool WriteForceMachineLanguage(uint32_t) override { return true; }
  uint16_t SystemUiLanguage() override { return 0x0409; }
};

const char kSettings[] = "100 0\nSCANEMAIL:yes\nBUILDNR:4711\n.\n";

bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

// The service's end of one connection, as a session lent the server's
// handle for as long as the script runs.
class CServiceEnd {
public:
  explicit CServiceEnd(HANDLE h) : session_(false) {
    session_.Attach(OwnPipe(h), nullptr, 5000);
  }
  ~CServiceEnd() { (void)session_.Detach().Release(); }  // the pipe server closes it

  bool Handshake() {
    return session_.ServerHandshake(tarvixlib::comm::kServiceType) ==
           tarvixlib::comm::ServerHandshakeResult::kOk;
  }
  // The next line, or "<none>" when none came within the limit.
  std::string Line() {
    char line[4096];
    if (session_.Reader().ReadLine(line, true, sizeof line) < 0) return "<none>";
    return line;
  }
  // A request: its name line, then its block up to ".".
  std::string Request() {
    std::string name = Line();
    for (std::string l = name; l != "." && l != "<none>";) l = Line();
    return name;
  }
  // A reply of a status line and its ".": "status|.".
  std::string Reply() {
    std::string status = Line();
    return status + "|" + Line();
  }
  bool Write(const std::string& bytes) {
    return session_.Writer().WriteBuffered(bytes.data(), bytes.size()) == bytes.size() &&
           session_.Writer().FlushWriteBuffer() >= 0;
  }
  // Whether the add-in hung up: a read fails at once with nothing to read.
  bool HungUp() { return Line() == "<none>"; }
  CTarvixSession& Session() { return session_; }

private:
  CTarvixSession session_;
};

class PipeWatcherTest : public ::testing::Test {
protected:
  void SetUp() override {
    log_.EnableAllLevels();
    pipeName_ = testkit::UniquePipeName("watcher");
    path_ = tarvixlib::comm::PipePath(tarvixlib::comm::kLocalHost, pipeName_.c_str()).GetString();
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);
    client_.Reply("GET_TARVIXSTATUS", "100 0\nMAIN_PATH_W:" + dir + "main\\\n.\n");
    client_.Reply("GET_SPECIFICATION_VALUE", "100 0\n.\n");
    client_.Reply("GET_MAPISETTINGS", kSettings);
  }
  void TearDown() override { details_.reset(); }

  // Details whose watcher registers on the test's pipe, started by a load.
  void StartWatcher(uint32_t refusedMs = 300) {
    details_ = std::make_unique<CAppDetails>(&client_, &instance_, &log_, pipeName_.c_str(),
                                             language_);
    CPipeWatcher::Timing timing;
    timing.openFailedMs = 50;
    timing.refusedMs = refusedMs;
    timing.startFailedMs = 50;
    timing.livenessPollMs = 100;
    timing.listenerIoLimitMs = listenerIoLimitMs_;
    details_->Watcher()->SetTiming(timing);
    ASSERT_TRUE(details_->Load());
  }
  CPipeWatcher& Watcher() { return *details_->Watcher(); }

  // The log's entries as "level text" lines.
  std::string LogText() {
    CMySynchronizedBlock<CMyThreadSave> hold(log_.EntryLock());
    std::string text;
    for (size_t i = 0; i < log_.Count(); ++i)
      text += std::to_string(log_.LevelAt(i)) + " " + log_.TextAt(i) + "\n";
    return text;
  }
  size_t LogCount(const std::string& what) {
    std::string text = LogText();
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  std::string pipeName_;
  std::string path_;
  CTableClient client_;
  CSwitchableLanguage language_;
  HINSTANCE instance_ = nullptr;
  CMyLogBuf log_;
  uint32_t listenerIoLimitMs_ = 60000;
  std::unique_ptr<CAppDetails> details_;
};

TEST_F(PipeWatcherTest, WithoutAServiceItTriesAgainAfterEachPauseAndStopsAtOnce) {
  StartWatcher();
  ASSERT_TRUE(WaitUntil([&] { return Watcher().Attempts() >= 3; })) << LogText();
  details_.reset();  // a stop request during a pause (or an open)
  std::string text = LogText();
  EXPECT_EQ(text.find(std::to_string(tarvixlib::kLogDebug) + " Trying to start PipeWatcher..."),
            0u)
      << text;
  for (const char* line : {"1. Attempt: PipeWatcher could not open session pipe!",
                           "2. Attempt: PipeWatcher could not open session pipe!",
                           "3. Attempt: PipeWatcher could not open session pipe!"})
    EXPECT_NE(text.find(std::to_string(tarvixlib::kLogWarn) + " " + line), std::string::npos)
        << text;
  EXPECT_EQ(LogCount("successfully started"), 0u);
}

TEST_F(PipeWatcherTest, ARefusedRegistrationClosesPolitelyAndPausesUntilStopped) {
  std::atomic<int> refusals{0};
  std::string goodbye;
  testkit::CPipeServer service(path_, 2, [&](HANDLE h) {
    CServiceEnd end(h);
    if (!end.Handshake() || end.Request() != "START_LISTENER") return;
    end.Write("2 0\n.\n");
    ++refusals;
    goodbye = end.Request();
    if (goodbye == "CLOSE_CONNECTION") end.Write("100 0\n.\n");
  });
  StartWatcher(/*refusedMs=*/60000);
  ASSERT_TRUE(WaitUntil([&] {
    return LogCount("1. Attempt: PipeWatcher could not register observer / listener!") == 1;
  })) << LogText();
  ASSERT_TRUE(WaitUntil([&] { return !goodbye.empty(); }));
  EXPECT_EQ(goodbye, "CLOSE_CONNECTION") << "a refused registration says goodbye";
  Sleep(500);
  EXPECT_EQ(Watcher().Attempts(), 1u) << "the next attempt waits for the long pause";

  auto start = std::chrono::steady_clock::now();
  details_.reset();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 5000) << "a stop request ends the pause";
  EXPECT_EQ(refusals, 1);
}

TEST_F(PipeWatcherTest, AStopRequestEndsAHeldRegistrationReplyAtOnce) {
  std::atomic<bool> asked{false};
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  testkit::CPipeServer service(path_, 1, [&](HANDLE h) {
    CServiceEnd end(h);
    if (!end.Handshake() || end.Request() != "START_LISTENER") return;
    asked = true;
    WaitForSingleObject(release, 30000);  // the reply never comes
  });
  // The watcher alone, with a stop wait long enough to tell a thread that
  // ended by itself from one that would have been abandoned.
  CAppDetails details(&client_, &instance_, nullptr, nullptr, language_);
  CPipeWatcher watcher(&log_, details, ".", pipeName_.c_str());
  watcher.SetStopTimeout(20000);
  ASSERT_TRUE(watcher.Start());
  ASSERT_TRUE(WaitUntil([&] { return asked.load(); })) << LogText();
  Sleep(200);
  auto start = std::chrono::steady_clock::now();
  watcher.RequestStop();
  watcher.Stop();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 5000) << "the exchange waits on the stop event, not the 24-hour limit";
  EXPECT_EQ(watcher.Attempts(), 1u);
  SetEvent(release);
  CloseHandle(release);
}

// The service registers the listener, then sends what a service sends.
TEST_F(PipeWatcherTest, ARegisteredListenerServesTheServicesCommands) {
  struct Seen {
    std::string nop, unknown, afterUnknown, closeReply;
    bool settingsInvalid = false, germanAfterReload = false, hungUp = false;
  } seen;
  std::atomic<int> registrations{0};
  std::atomic<bool> scriptDone{false};
  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  testkit::CPipeServer service(path_, 2, [&](HANDLE h) {
    CServiceEnd end(h);
    if (!end.Handshake() || end.Request() != "START_LISTENER") return;
    end.Write("100 0\n.\n");
    if (++registrations == 2) {
      SetEvent(second);
      end.HungUp();  // wait for the add-in to go away
      return;
    }
    ASSERT_TRUE(WaitUntil([&] { return Watcher().Registrations() == 1; }));

    language_.code = "de";
    end.Write("STATUS_CHANGED\nE:10\n.\n");
    end.Write("NOP\n.\n");
    seen.nop = end.Reply();  // no reply came before this one
    seen.germanAfterReload =
        std::wcscmp(details_->GetText(TEXT_WINTEXT_FROM), L"Von") == 0;

    end.Write("stop_application\n.\n");
    end.Write("NOP\n.\n");
    end.Reply();
    seen.settingsInvalid = !details_->SettingsValid();

    // The payload holds two requests' worth of bytes: read as lines they
    // would be answered.
    end.Write("SCAN_EMAIL\nFILE:a.txt\nDATA 12\nNOP\n.\nNOP\n.\n.\n");
    seen.unknown = end.Reply();
    end.Write("AUTOUPDATE_POSTMESSAGE\nTEXT:update\n.\nNOP\n.\n");
    seen.afterUnknown = end.Reply();

    end.Write("CLOSE_CONNECTION\n.\n");
    seen.closeReply = end.Reply();
    seen.hungUp = end.HungUp();
    scriptDone = true;
  });
  StartWatcher();
  EXPECT_STREQ(details_->GetText(TEXT_WINTEXT_FROM), L"From");
  ASSERT_EQ(WaitForSingleObject(second, 20000), WAIT_OBJECT_0) << LogText();
  ASSERT_TRUE(scriptDone);

  EXPECT_EQ(seen.nop, "100 1536|.") << "STATUS_CHANGED is not answered";
  EXPECT_TRUE(seen.germanAfterReload) << "E=10 reloads the language";
  EXPECT_TRUE(seen.settingsInvalid) << "STOP_APPLICATION in lower case invalidates";
  EXPECT_EQ(seen.unknown, "101 Unknown command|.") << "one answer after the whole block, DATA included";
  EXPECT_EQ(seen.afterUnknown, "100 1536|.") << "AUTOUPDATE_POSTMESSAGE is drained unanswered";
  EXPECT_EQ(seen.closeReply, "100 1536|.");
  EXPECT_TRUE(seen.hungUp) << "after CLOSE_CONNECTION the add-in closes without another line";

  // The second registration made the settings valid again.
  ASSERT_TRUE(WaitUntil([&] { return Watcher().Registrations() == 2; }));
  EXPECT_TRUE(WaitUntil([&] { return details_->SettingsValid(); }));
  EXPECT_EQ(LogCount("1. Attempt: PipeWatcher session pipe opened."), 1u) << LogText();
  EXPECT_EQ(LogCount("1. Attempt: PipeWatcher successfully started."), 1u) << LogText();
  EXPECT_EQ(LogCount("2. Attempt: PipeWatcher successfully started."), 1u) << LogText();
  // STATUS_CHANGED and each registration (twice) reloaded the settings.
  EXPECT_GE(client_.SentCount("GET_MAPISETTINGS"), 1u + 1u + 2u + 2u);

  uint32_t attempts = Watcher().Attempts();
  details_.reset();  // stopped while registered: no further attempt
  EXPECT_EQ(attempts, 2u);
  CloseHandle(second);
}

TEST_F(PipeWatcherTest, ASilentServiceEndsTheListenerAndTheWatcherRegistersAnew) {
  listenerIoLimitMs_ = 400;
  std::atomic<int> registrations{0};
  std::atomic<bool> firstHungUp{false};
  testkit::CPipeServer service(path_, 2, [&](HANDLE h) {
    CServiceEnd end(h);
    if (!end.Handshake() || end.Request() != "START_LISTENER") return;
    end.Write("100 0\n.\n");
    int n = ++registrations;
    end.Session().TarvixPipe::SetIoTimeLimit(20000);
    bool hungUp = end.HungUp();  // silence: the add-in's read runs out
    if (n == 1) firstHungUp = hungUp;
  });
  StartWatcher();
  ASSERT_TRUE(WaitUntil([&] { return registrations == 2; })) << LogText();
  EXPECT_TRUE(firstHungUp);
  EXPECT_EQ(LogCount("could not"), 0u) << LogText();
}

}  // namespace
}  // namespace mapilib
