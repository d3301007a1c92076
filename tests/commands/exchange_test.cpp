// Send and Process: the exact bytes each side writes, the codes each ends
// with, and the two talking to each other over an in-memory pipe pair.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "commands/command.h"
#include "test_commands.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace {

using testing_::ContentOf;
using testing_::EchoCommand;
using testing_::LimitedSink;
using testing_::PipePair;
using testing_::SpillFolder;
using testing_::StreamOf;

// ---- Send against a canned reply ----

struct SendResult {
  int32_t code;
  std::string written;
};

SendResult SendWith(CTarvixPipeCommand& command, const std::string& reply) {
  auto in = StreamOf(reply);
  CMyStreamBuf out;
  int32_t code = command.Send(*in, out, nullptr);
  return {code, ContentOf(out)};
}

TEST(Send, WritesNameBlockAndTerminator) {
  EchoCommand c;
  c.flag.Set(true);
  c.number.Set(-3);
  c.small.Set(9);
  c.sigid.Set(42);
  c.big.Set(1ull << 40);
  c.text.Set("report.pdf");
  c.data.SetBytes("xyz", 3);
  SendResult r = SendWith(c, "100 1536\n.\n");
  EXPECT_EQ(r.code, 100);
  EXPECT_EQ(r.written,
            "ECHO\nFLAG:yes\nNUMBER:-3\nSMALL:9\nSIGID:42\nBIG:1099511627776\n"
            "TEXT:report.pdf\nDATA 3\nxyz.\n");
  EXPECT_EQ(c.GetReturnMessage(), CReturnMessage(100, 1536));
  EXPECT_STREQ(c.GetReturnText().GetString(), "1536");
}

TEST(Send, NameLinesAndWhatTheyBecome) {
  struct {
    const char* name;
    const char* line;
  } cases[] = {
      {"NOP", "NOP\n"},
      {"NOP\n", "NOP\n"},      // no second LF
      {"NOP\r\n", "NOP\n"},
      {"", "\n"},
      {"A\nB", "A B\n"},       // no line of its own
      {"A\r\n.\nB\n", "A  . B\n"},
  };
  for (auto& c : cases) {
    CTarvixPipeCommand command(c.name, 0);
    SendResult r = SendWith(command, "100 1536\n.\n");
    EXPECT_EQ(r.written, std::string(c.line) + ".\n") << c.name;
  }
}

TEST(Send, StatusLinesAndTheCodesTheyGive) {
  struct {
    const char* reply;
    int32_t code;
    int32_t textId;
    const char* returnText;
  } cases[] = {
      {"100 1536\n.\n", 100, 1536, "1536"},
      {"100 9999\n.\n", 100, 1536, "9999"},  // the received id is not kept
      {"100\n.\n", 2, 1537, ""},             // no blank
      {"100 \n.\n", 100, 1536, ""},
      {"2 1537\n.\n", 2, 1537, "1537"},
      {"7 \n.\n", 7, 0, ""},
      {"101 Unknown command\n.\n", 101, 0, "Unknown command"},
      {"-5 x\n.\n", -5, 0, "x"},
      {"abc def\n.\n", 0, 0, "def"},
      {"250 a b c\r\n.\r\n", 250, 1539, "a b c"},
      {"99999999999 x\n.\n", INT32_MAX, 0, "x"},
      {"", 2, 1537, ""},
      {"100 1536\n", 2, 1537, "1536"},         // no terminator
      {"100 1536\nLISTEND\n.\n", 2, 1537, "1536"},
  };
  for (auto& c : cases) {
    CTarvixPipeCommand command("X", 0);
    SendResult r = SendWith(command, c.reply);
    EXPECT_EQ(r.code, c.code) << c.reply;
    EXPECT_EQ(command.GetReturnMessage(), CReturnMessage(c.code, c.textId)) << c.reply;
    EXPECT_STREQ(command.GetReturnText().GetString(), c.returnText) << c.reply;
  }
}

TEST(Send, StatusLineLimit) {
  std::string fits = "100 " + std::string(kMaxStatusLine - 1 - 4, '7');
  CTarvixPipeCommand a("X", 0);
  EXPECT_EQ(SendWith(a, fits + "\n.\n").code, 100);
  CTarvixPipeCommand b("X", 0);
  EXPECT_EQ(SendWith(b, fits + "7\n.\n").code, 2);
}

TEST(Send, AReplyCutOffAnywhereEndsWithCode2) {
  const std::string reply =
      "100 1536\nR_FLAG:yes\nR_NUMBER:-9\nR_TEXT:abc\nLISTSTART\nX:1\nLISTEND\n"
      "DATA 4\nwxyzR_SIGID:77\n.\n";
  // Every cut short of the whole fails; the one that drops only the last LF
  // is a complete reply (checked below).
  for (size_t cut = 0; cut + 1 < reply.size(); ++cut) {
    EchoCommand c;
    EXPECT_EQ(SendWith(c, reply.substr(0, cut)).code, 2) << "cut at " << cut;
  }
  EchoCommand whole;
  EXPECT_EQ(SendWith(whole, reply).code, 100);
  EXPECT_EQ(whole.rSigid.Get(), 77u);
  // The last line may end without LF.
  EchoCommand noLf;
  EXPECT_EQ(SendWith(noLf, reply.substr(0, reply.size() - 1)).code, 100);
}

TEST(Send, ResponseParametersTakeDefaultsFromAFailedReply) {
  EchoCommand c;
  c.rText.Set("stale");
  c.rNumber.Set(55);
  EXPECT_EQ(SendWith(c, "100 1536\nR_NUMBER:4\n").code, 2);
  EXPECT_EQ(c.rNumber.Get(), 4) << "what arrived is taken";
  EXPECT_STREQ(c.rText.Get().GetString(), "none") << "what did not arrive is the default";
}

TEST(Send, AReplyHoldingMoreDataThanItsBoundEndsWithCode2) {
  SpillFolder folder;
  EchoCommand c;
  testing_::LimitData(c.ResponseParams(), folder, 100000, kMaxDataMemoryPerBlock, 1000);
  const std::string first = "100 1536\nR_SIGID:5\nDATA 60000\n" + std::string(60000, 'a');
  EXPECT_EQ(SendWith(c, first + ".\n").code, 100);
  EXPECT_FALSE(c.WireFailed());
  EXPECT_EQ(folder.Files(), 1u) << "the block spilled; the store holds it";

  EXPECT_EQ(SendWith(c, first + "DATA 40001\n" + std::string(40001, 'b') + ".\n").code, 2);
  EXPECT_TRUE(c.WireFailed());
  EXPECT_EQ(c.rSigid.Get(), 5u) << "values before the refused block still count";
  EXPECT_EQ(c.ResponseParams().Store().StreamCount(), 0u);
  EXPECT_EQ(folder.Files(), 0u) << "nothing of the refused reply stays on disk";
}

TEST(Send, CanRunRefusedWritesNothing) {
  EchoCommand c;
  c.canRun = false;
  SendResult r = SendWith(c, "100 1536\n.\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.written, "");
  EXPECT_EQ(c.executed, 0);
}

TEST(Send, WriteFailuresEndWithCode2) {
  EchoCommand c;
  c.text.Set("abc");
  // Every cut of the request fails the send, before any reply is read.
  CMyStreamBuf full;
  auto reply = StreamOf("100 1536\n.\n");
  ASSERT_EQ(c.Send(*reply, full, nullptr), 100);
  size_t size = ContentOf(full).size();
  for (size_t capacity = 0; capacity < size; ++capacity) {
    auto in = StreamOf("100 1536\n.\n");
    LimitedSink sink(capacity);
    EXPECT_EQ(c.Send(*in, sink, nullptr), 2) << capacity;
    EXPECT_EQ(in->Position(), 0u) << "no reply read after a failed write";
  }
}

TEST(Send, BufferedWriterIsFlushedBeforeTheReplyIsRead) {
  EchoCommand c;
  auto in = StreamOf("100 1536\n.\n");
  LimitedSink sink(1 << 20);
  ASSERT_TRUE(sink.SetBuffering(CMyStream::kWriteBuffer, 0, 4096));
  EXPECT_EQ(c.Send(*in, sink, nullptr), 100);
  EXPECT_EQ(sink.bytes.substr(sink.bytes.size() - 2), ".\n");
}

// ---- Process against a canned request ----

struct ProcessResult {
  int32_t code;
  std::string written;
};

ProcessResult ProcessWith(CTarvixPipeCommand& command, const std::string& request,
                          CCommandContext* context = nullptr) {
  auto in = StreamOf(request);
  CMyStreamBuf out;
  int32_t code = command.Process(*in, out, context);
  return {code, ContentOf(out)};
}

TEST(Process, ReadsTheRequestAndWritesTheReply) {
  EchoCommand c;
  ProcessResult r = ProcessWith(c, "SIGID:5\nTEXT:hi\nDATA 2\nab.\n");
  EXPECT_EQ(r.code, 100);
  EXPECT_EQ(r.written,
            "100 1536\nR_FLAG:no\nR_NUMBER:0\nR_SMALL:0\nR_SIGID:5\nR_BIG:0\nR_TEXT:hi\n"
            "R_DATASIZE:2\nR_DATACRC:" +
                std::to_string(c.rDataCrc.Get()) + "\n.\n");
  EXPECT_EQ(c.executed, 1);
  EXPECT_EQ(c.finished, 1);
  EXPECT_TRUE(c.IsStatusWritten());
}

TEST(Process, AFailedRequestGetsNoReply) {
  for (const char* request : {"", "SIGID:5\n", "LISTSTART\n.\n", "DATA 9\nabc"}) {
    EchoCommand c;
    ProcessResult r = ProcessWith(c, request);
    EXPECT_EQ(r.code, 2) << request;
    EXPECT_EQ(r.written, "") << request;
    EXPECT_EQ(c.executed, 0) << request;
    EXPECT_EQ(c.finished, 0) << request;
  }
}

TEST(Process, TheStatusLineCarriesTheCodeOfExecute) {
  struct {
    int32_t result;
    const char* status;
  } cases[] = {{100, "100 1536\n"}, {2, "2 1537\n"}, {140, "140 1538\n"}, {7, "7 \n"},
               {-1, "-1 \n"}};
  for (auto& c : cases) {
    EchoCommand command;
    command.result = c.result;
    ProcessResult r = ProcessWith(command, ".\n");
    EXPECT_EQ(r.code, c.result);
    EXPECT_EQ(r.written.substr(0, std::string(c.status).size()), c.status);
  }
}

TEST(Process, CanRunRefusedWithholdsSuccessAndClearsTheResponse) {
  EchoCommand c;
  c.canRun = false;
  ProcessResult r = ProcessWith(c, "SIGID:5\nTEXT:hi\n.\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.written,
            "1 \nR_FLAG:no\nR_NUMBER:-1\nR_SMALL:0\nR_SIGID:0\nR_BIG:0\nR_TEXT:none\n"
            "R_DATASIZE:0\nR_DATACRC:0\n.\n");
  // A failure code stays what it was.
  EchoCommand d;
  d.canRun = false;
  d.result = 140;
  EXPECT_EQ(ProcessWith(d, ".\n").code, 140);
}

TEST(Process, ExecutionBudgetIsHalfTheConnectionsLimit) {
  EchoCommand c;
  CCommandContext context;
  ProcessWith(c, ".\n", &context);
  EXPECT_EQ(c.GetExecutionBudget(), 0) << "no limit: untouched";
  context.SetIoTimeLimit(60001);
  ProcessWith(c, ".\n", &context);
  EXPECT_EQ(c.GetExecutionBudget(), 30000);
}

TEST(Process, WriteFailuresEndWithCode2) {
  EchoCommand c;
  ProcessResult full = ProcessWith(c, ".\n");
  for (size_t capacity = 0; capacity < full.written.size(); ++capacity) {
    EchoCommand d;
    auto in = StreamOf(".\n");
    LimitedSink sink(capacity);
    EXPECT_EQ(d.Process(*in, sink, nullptr), 2) << capacity;
    EXPECT_EQ(d.finished, 1);
  }
}

// A notification: no status line, so no terminator either.
class SilentCommand : public CTarvixPipeCommand {
public:
  SilentCommand() : CTarvixPipeCommand("STATUS_CHANGED", 0) {}
  bool WriteResponse(CMyStream&) override { return true; }
};

TEST(Process, NoStatusLineMeansNoTerminator) {
  SilentCommand c;
  ProcessResult r = ProcessWith(c, ".\n");
  EXPECT_EQ(r.code, 100);
  EXPECT_EQ(r.written, "");
}

TEST(Process, StatusLineIsWrittenOncePerProcess) {
  // An Execute that writes the status line early: WriteResponse adds none.
  class Early : public EchoCommand {
  public:
    CMyStream* out = nullptr;
    int32_t Execute(CCommandContext* context) override {
      EchoCommand::Execute(context);
      WriteResponse(*out);
      return kReturnSuccess;
    }
  };
  Early c;
  auto in = StreamOf(".\n");
  CMyStreamBuf out;
  c.out = &out;
  EXPECT_EQ(c.Process(*in, out, nullptr), 100);
  std::string text = ContentOf(out);
  EXPECT_EQ(text.find("100 1536\n"), 0u);
  EXPECT_EQ(text.find("100 1536\n", 1), std::string::npos);
  // The next Process writes its own status line again.
  auto in2 = StreamOf(".\n");
  CMyStreamBuf out2;
  c.out = &out2;
  EXPECT_EQ(c.Process(*in2, out2, nullptr), 100);
  EXPECT_EQ(ContentOf(out2).find("100 1536\n"), 0u);
}

// ---- both sides over a pipe pair ----

struct Progress : CMyObserver<CBinaryDownloadProgressEvent> {
  std::vector<int> percents;
  void OnEvent(CMyEventSource<CBinaryDownloadProgressEvent>&,
               const CBinaryDownloadProgressEvent& e) override {
    percents.push_back(e.percent);
  }
};

// The client sends `client`; the server reads its name line and processes
// `server` on its own thread.
int32_t Exchange(PipePair& pipe, CTarvixPipeCommand& client, CTarvixPipeCommand& server,
                 int32_t* serverCode) {
  std::thread serving([&] {
    CMyLineBuffer line;
    ASSERT_EQ(ReadWireLine(pipe.server, line, kMaxParamLine), LineResult::kLine);
    ASSERT_STREQ(line.Text(), client.GetName());
    *serverCode = server.Process(pipe.server, pipe.server, nullptr);
  });
  int32_t code = client.Send(pipe.client, pipe.client, nullptr);
  serving.join();
  return code;
}

TEST(PipeExchange, EveryParameterTypeGoesThereAndBack) {
  PipePair pipe;
  EchoCommand client, server;
  client.flag.Set(true);
  client.number.Set(INT32_MIN);
  client.small.Set(255);
  client.sigid.Set(UINT32_MAX);
  client.big.Set(UINT64_MAX);
  client.text.Set("Re: invoice\nDATA 5\n");  // made safe on the way
  int32_t serverCode = 0;
  EXPECT_EQ(Exchange(pipe, client, server, &serverCode), 100);
  EXPECT_EQ(serverCode, 100);
  EXPECT_TRUE(client.rFlag.Get());
  EXPECT_EQ(client.rNumber.Get(), INT32_MIN);
  EXPECT_EQ(client.rSmall.Get(), 255);
  EXPECT_EQ(client.rSigid.Get(), UINT32_MAX);
  EXPECT_EQ(client.rBig.Get(), UINT64_MAX);
  EXPECT_STREQ(server.text.Get().GetString(), "Re: invoice DATA 5 ") << "one line, no DATA block";
  // Only the client's own (empty) binary parameter made a DATA block.
  EXPECT_EQ(server.RequestParams().Store().StreamCount(), 1u);
  EXPECT_STREQ(client.rText.Get().GetString(), "Re: invoice DATA 5 ");
  EXPECT_EQ(client.rDataSize.Get(), 0u);
}

TEST(PipeExchange, ListsReachOnlyTheNestedStores) {
  // Nothing here writes lists; the service does. Write one by hand.
  PipePair pipe;
  EchoCommand server;
  std::thread serving([&] { server.Process(pipe.server, pipe.server, nullptr); });
  std::string request = "LISTSTART\nSIGID:1\nLISTEND\nLISTSTART\nSIGID:2\nLISTEND\nSIGID:3\n.\n";
  pipe.client.Write(request.data(), request.size());
  CMyLineBuffer line;
  ASSERT_EQ(ReadWireLine(pipe.client, line, kMaxStatusLine), LineResult::kLine);
  serving.join();
  EXPECT_STREQ(line.Text(), "100 1536");
  EXPECT_EQ(server.sigid.Get(), 3u);
  ASSERT_EQ(server.RequestParams().Store().ListCount(), 2u);
  EXPECT_STREQ(server.RequestParams().Store().ListItem(1)->FindValue("SIGID"), "2");
}

class DataSizes : public ::testing::TestWithParam<size_t> {};

TEST_P(DataSizes, DataBlockArrivesWholeWithItsProgress) {
  size_t size = GetParam();
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  PipePair pipe;
  EchoCommand client, server;
  ASSERT_TRUE(client.data.SetBytes(bytes.data(), bytes.size()));
  Progress progress;
  server.data.AddObserver(&progress);  // chained from the request list
  int32_t serverCode = 0;
  EXPECT_EQ(Exchange(pipe, client, server, &serverCode), 100);
  EXPECT_EQ(serverCode, 100);
  EXPECT_EQ(client.rDataSize.Get(), size);
  EXPECT_EQ(client.rDataCrc.Get(), client.data.Stream().Crc32());
  EXPECT_TRUE(ContentOf(server.data.Stream()) == bytes);

  std::vector<int> expected;
  if (size == 20000) expected = {81, 100};
  if (size == 10000000)
    for (int i = 1; i <= 100; ++i) expected.push_back(i);
  EXPECT_EQ(progress.percents, expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DataSizes, ::testing::Values(0u, 20000u, 10000000u));

TEST(PipeExchange, TwoBinaryParametersAndOneBlock) {
  PipePair pipe;
  EchoCommand client;
  EchoCommand server("ECHO", /*withExtra=*/true);
  server.extra.SetBytes("old", 3);
  client.data.SetBytes("only", 4);
  int32_t serverCode = 0;
  EXPECT_EQ(Exchange(pipe, client, server, &serverCode), 100);
  EXPECT_EQ(ContentOf(server.data.Stream()), "only");
  EXPECT_EQ(ContentOf(server.extra.Stream()), "") << "no block left: reset, empty";
}

TEST(PipeExchange, TheServerGoneMidReplyEndsTheSendWithCode2) {
  PipePair pipe;
  EchoCommand client;
  std::thread serving([&] {
    CMyLineBuffer line;
    DrainBlock(pipe.server, line);  // name line and request block
    pipe.server.Write("100 1536\nR_TEXT:x\n", 18);
    pipe.server.CloseWrite();
  });
  EXPECT_EQ(client.Send(pipe.client, pipe.client, nullptr), 2);
  serving.join();
  EXPECT_STREQ(client.rText.Get().GetString(), "x");
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
