// Send and Process over a real named pipe pair (overlapped handles, as the
// pipe connection uses them), under wine: every parameter type, DATA blocks
// with their progress, a session of requests served by a command set, and
// a server that goes away in the middle of its reply.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "commands/commandset.h"
#include "kit/pipes.h"
#include "test_commands.h"

namespace tarvixlib {
namespace commands {
namespace {

using testing_::EchoCommand;

class NamedPipe : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pipes_.Open("commands"));
    server_ = std::make_unique<CMyStreamOLWin>(pipes_.Server(), nullptr, 20000);
    client_ = std::make_unique<CMyStreamOLWin>(pipes_.Client(), nullptr, 20000);
    for (CMyStream* s : {static_cast<CMyStream*>(server_.get()), static_cast<CMyStream*>(client_.get())})
      ASSERT_TRUE(s->SetBuffering(CMyStream::kReadBuffer | CMyStream::kWriteBuffer, 65536, 32768));
    serverContext_.SetPipeHandle(pipes_.Server());
    serverContext_.SetIoTimeLimit(20000);
  }

  // The server thread reads name lines and dispatches them until the data
  // ends, the transport fails or CLOSE_CONNECTION set ${STOP}.
  void Serve(CCommandSet& set) {
    CMyLineBuffer line;
    while (!serverContext_.IsYes("${STOP}")) {
      if (ReadWireLine(*server_, line, kMaxParamLine) != LineResult::kLine) break;
      CMyStringA name(line.Text());
      if (set.Dispatch(name, *server_, *server_, &serverContext_, true) ==
          ServeResult::kTransportFailed)
        break;
      ++served_;
    }
  }

  testkit::CPipePair pipes_;
  std::unique_ptr<CMyStreamOLWin> server_, client_;
  CCommandContext serverContext_;
  int served_ = 0;
};

struct Progress : CMyObserver<CBinaryDownloadProgressEvent> {
  std::vector<int> percents;
  void OnEvent(CMyEventSource<CBinaryDownloadProgressEvent>&,
               const CBinaryDownloadProgressEvent& e) override {
    percents.push_back(e.percent);
  }
};

class HandleAwareEcho : public CPipeHandleAwareCommandT<EchoCommand> {
public:
  HandleAwareEcho() : CPipeHandleAwareCommandT<EchoCommand>("ECHO") {}
};

TEST_F(NamedPipe, ASessionOfRequests) {
  CCommandSet set;
  auto* echo = new HandleAwareEcho();
  ASSERT_TRUE(set.Add(echo));
  ASSERT_TRUE(set.Add(new CNopCommand()));
  Progress progress;
  echo->data.AddObserver(&progress);
  std::thread serving([&] { Serve(set); });

  // Every type, both ways; CR and LF in a string cannot break the request.
  EchoCommand a;
  a.flag.Set(true);
  a.number.Set(INT32_MIN);
  a.small.Set(255);
  a.sigid.Set(UINT32_MAX);
  a.big.Set(UINT64_MAX);
  a.text.Set("Re: invoice\r\n.\nNOP\n");
  EXPECT_EQ(a.Send(*client_, *client_, nullptr), 100);
  EXPECT_TRUE(a.rFlag.Get());
  EXPECT_EQ(a.rNumber.Get(), INT32_MIN);
  EXPECT_EQ(a.rSmall.Get(), 255);
  EXPECT_EQ(a.rSigid.Get(), UINT32_MAX);
  EXPECT_EQ(a.rBig.Get(), UINT64_MAX);
  EXPECT_STREQ(a.rText.Get().GetString(), "Re: invoice  . NOP ");

  // DATA blocks: empty, two chunks, a hundred chunks.
  for (size_t size : {size_t(0), size_t(20000), size_t(10000000)}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    EchoCommand d;
    ASSERT_TRUE(d.data.SetBytes(bytes.data(), bytes.size()));
    progress.percents.clear();
    EXPECT_EQ(d.Send(*client_, *client_, nullptr), 100) << size;
    EXPECT_EQ(d.rDataSize.Get(), size);
    EXPECT_EQ(d.rDataCrc.Get(), d.data.Stream().Crc32()) << size;
    std::vector<int> expected;
    if (size == 20000) expected = {81, 100};
    if (size == 10000000)
      for (int i = 1; i <= 100; ++i) expected.push_back(i);
    EXPECT_EQ(progress.percents, expected) << size;
  }
  EXPECT_EQ(echo->GetPipeHandle(), pipes_.Server());
  EXPECT_EQ(echo->GetExecutionBudget(), 10000);

  // A name the server does not have, then the NOP, then the end.
  CTarvixPipeCommand unknown("NOT_THERE", 0);
  EXPECT_EQ(unknown.Send(*client_, *client_, nullptr), 101);
  EXPECT_STREQ(unknown.GetReturnText().GetString(), "Unknown command");
  CNopCommand nop;
  EXPECT_EQ(nop.Send(*client_, *client_, nullptr), 100);
  CTarvixPipeCommand close("CLOSE_CONNECTION", 0);
  EXPECT_EQ(close.Send(*client_, *client_, nullptr), 100);
  serving.join();
  EXPECT_EQ(served_, 7);
  EXPECT_EQ(echo->executed, 4);
}

TEST_F(NamedPipe, TheServerGoneMidReplyEndsTheSendWithCode2) {
  std::thread serving([&] {
    CMyLineBuffer line;
    DrainBlock(*server_, line);  // name line and request block
    const char partial[] = "100 1536\nR_TEXT:x\nR_SIGID:";
    server_->WriteBuffered(partial, sizeof partial - 1);
    FlushWriter(*server_);
    server_.reset();
    pipes_.CloseServer();
  });
  EchoCommand c;
  EXPECT_EQ(c.Send(*client_, *client_, nullptr), 2);
  serving.join();
  EXPECT_STREQ(c.rText.Get().GetString(), "x");
}

TEST_F(NamedPipe, ARequestCutOffGetsNoReply) {
  CCommandSet set;
  auto* echo = new EchoCommand();
  set.Add(echo);
  std::thread serving([&] { Serve(set); });
  const char partial[] = "ECHO\nSIGID:5\nDATA 100\nabc";
  client_->WriteBuffered(partial, sizeof partial - 1);
  FlushWriter(*client_);
  client_.reset();
  pipes_.CloseClient();
  serving.join();
  EXPECT_EQ(served_, 0);
  EXPECT_EQ(echo->executed, 0);
  EXPECT_EQ(echo->GetReturnCode(), 2);
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
