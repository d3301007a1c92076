// Server sessions: the serve loop over a real pipe pair, how it ends
// (goodbye, hang-up, detach, a fault inside a command), its states and
// events.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "comm/server.h"
#include "comm/tarvixpipe.h"
#include "kit/pipes.h"

namespace tarvixlib {
namespace {

using commands::CCommandContext;
using commands::CCommandSet;
using commands::CTarvixPipeCommand;
using commands::CTarvixPipeCommandSession;
using comm::OwnPipe;

// Sets a session variable to "yes" and answers 100.
class CSetVariableCommand : public CTarvixPipeCommand {
public:
  CSetVariableCommand(const char* name, const char* variable)
      : CTarvixPipeCommand(name, 0), variable_(variable) {}
  int32_t Execute(CCommandContext* context) override {
    context->SetVariable(variable_, true);
    return commands::kReturnSuccess;
  }

private:
  const char* variable_;
};

// Faults inside the serve loop, as a broken command would.
class CFaultCommand : public CTarvixPipeCommand {
public:
  CFaultCommand() : CTarvixPipeCommand("FAULT", 0) {}
  int32_t Execute(CCommandContext*) override {
    *static_cast<volatile int*>(nullptr) = 1;
    return commands::kReturnSuccess;
  }
};

class CEventRecorder : public CMyObserver<CSessionEvent>, public CMyObserver<CClientConnectEvent> {
public:
  std::vector<std::string> events;
  void OnEvent(CMyEventSource<CSessionEvent>&, const CSessionEvent& e) override {
    events.push_back(e.kind == CSessionEvent::kOpened ? "opened" : "closed");
  }
  void OnEvent(CMyEventSource<CClientConnectEvent>&, const CClientConnectEvent&) override {
    events.push_back("connect");
  }
};

class ServerSessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    log_.EnableAllLevels();
    commands_.Add(new CSetVariableCommand("DETACH_ME", "${DETACH}"));
    commands_.Add(new CFaultCommand());
    commands_.Add(new commands::CNopCommand());
    ASSERT_TRUE(pair_.Open("server-session"));
    session_.Attach(OwnPipe(pair_.ReleaseServer()), nullptr, 5000);
    session_.CMyEventSource<CSessionEvent>::AddObserver(&events_);
    session_.CMyEventSource<CClientConnectEvent>::AddObserver(&events_);
    client_.Attach(OwnPipe(pair_.ReleaseClient()), nullptr, 5000);
  }

  void Send(const std::string& bytes) {
    client_.WriteStream().WriteBuffered(bytes.data(), bytes.size());
    client_.WriteStream().FlushWriteBuffer();
  }
  // Everything the session wrote until it closed its end (or 5 s passed).
  std::string Received() {
    std::string text;
    char c;
    while (client_.ReadStream().ReadBuffered(&c, 1) == 1) text += c;
    return text;
  }
  bool Ended() { return session_.WaitForEnd(10000); }

  CMyLogBuf log_;
  CEventRecorder events_;
  CCommandSet commands_;
  testkit::CPipePair pair_;
  CTarvixPipeCommandSession session_{&log_, 0x14006, "Test Session", &commands_,
                                     /*handshake=*/false, /*answerUnknown=*/true, 5000};
  TarvixPipe client_;
};

TEST_F(ServerSessionTest, ServesUntilGoodbyeThenClosesWithoutReadingOn) {
  ASSERT_TRUE(session_.Start());
  Send("NOP\n.\n\nFOO\nA:1\n.\nCLOSE_CONNECTION\n.\nNOP\n.\n");
  EXPECT_EQ(Received(), "100 1536\n.\n101 Unknown command\n.\n100 1536\n.\n")
      << "FOO answered, the goodbye answered, the NOP after it never read";
  ASSERT_TRUE(Ended());
  EXPECT_EQ(session_.GetState(), CTarvixPipeServer::kEnded);
  EXPECT_FALSE(session_.IsOpen());
  EXPECT_EQ(events_.events, (std::vector<std::string>{"connect", "opened", "closed"}));
}

TEST_F(ServerSessionTest, AHangUpEndsTheSessionQuietly) {
  ASSERT_TRUE(session_.Start());
  Send("NOP\n.\n");
  client_.Close();
  ASSERT_TRUE(Ended());
  EXPECT_EQ(session_.GetState(), CTarvixPipeServer::kEnded);
  EXPECT_EQ(log_.Count(), 0u);
}

TEST_F(ServerSessionTest, ADetachLeavesTheConnectionOpenForItsTaker) {
  ASSERT_TRUE(session_.Start());
  Send("DETACH_ME\n.\n");
  ASSERT_TRUE(Ended());
  EXPECT_EQ(session_.GetState(), CTarvixPipeServer::kDetached);
  comm::CUniqueConnection kept = session_.TakeDetached();
  ASSERT_TRUE(kept);
  EXPECT_EQ(events_.events, (std::vector<std::string>{"connect", "opened"}))
      << "a detached session is not closed";
  // The connection still carries bytes both ways.
  TarvixPipe taker;
  taker.Attach(std::move(kept), nullptr, 5000);
  char status[64] = {};
  ASSERT_GE(client_.ReadStream().ReadLine(status, true, sizeof status), 0);
  EXPECT_STREQ(status, "100 1536");
  const char hello[] = "hello\n";
  taker.WriteStream().WriteBuffered(hello, 6);
  taker.WriteStream().FlushWriteBuffer();
  char line[64] = {};
  ASSERT_GE(client_.ReadStream().ReadLine(line, true, sizeof line), 0);  // "."
  ASSERT_GE(client_.ReadStream().ReadLine(line, true, sizeof line), 0);
  EXPECT_STREQ(line, "hello");
}

TEST_F(ServerSessionTest, AFaultInACommandIsReportedAndEndsOnlyTheSession) {
  ASSERT_TRUE(session_.Start());
  Send("NOP\n.\nFAULT\n.\n");
  EXPECT_EQ(Received(), "100 1536\n.\n") << "the connection is closed after the fault";
  ASSERT_TRUE(Ended());
  CMySynchronizedBlock<CMyThreadSave> hold(log_.EntryLock());
  ASSERT_EQ(log_.Count(), 1u);
  EXPECT_EQ(log_.LevelAt(0), kLogAlert);
  EXPECT_STREQ(log_.TextAt(0),
               "Exception(3221225477) in virtual unsigned int tarvixlib::CTarvixPipeServer::Run()");
  EXPECT_FALSE(session_.IsOpen());

  // The thread object serves again, with its variables cleared.
  testkit::CPipePair again;
  ASSERT_TRUE(again.Open("server-session-again"));
  session_.Attach(OwnPipe(again.ReleaseServer()), nullptr, 5000);
  client_.Attach(OwnPipe(again.ReleaseClient()), nullptr, 5000);
  ASSERT_TRUE(session_.Start());
  Send("CLOSE_CONNECTION\n.\n");
  EXPECT_EQ(Received(), "100 1536\n.\n");
  EXPECT_TRUE(Ended());
}

}  // namespace
}  // namespace tarvixlib
