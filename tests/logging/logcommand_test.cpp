// The LOG command in both directions and the pipe log's sends.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "commands/commandset.h"
#include "logging/logcommand.h"
#include "logging/pipelog.h"

namespace tarvixlib {
namespace commands {
namespace {

std::unique_ptr<CMyStreamBuf> StreamOf(const std::string& text) {
  auto s = std::make_unique<CMyStreamBuf>();
  s->Write(text.data(), text.size());
  s->Seek(0, nullptr, 0);
  return s;
}

std::string ContentOf(CMyStream& stream) {
  stream.Sync();
  stream.Seek(0, nullptr, 0);
  std::string out;
  char piece[4096];
  for (size_t n; (n = stream.Read(piece, sizeof piece)) > 0;) out.append(piece, n);
  return out;
}

using Entries = std::vector<std::pair<uint32_t, std::string>>;

Entries EntriesOf(CMyLogBuf& buf) {
  Entries out;
  for (size_t i = 0; i < buf.Count(); ++i) out.emplace_back(buf.LevelAt(i), buf.TextAt(i));
  return out;
}

TEST(LogCommand, RequestCarriesOneLinePerEntry) {
  CLogCommand c;
  c.Buffer().EnableAllLevels();
  c.Buffer().Log(kLogAlert, "boom");
  c.Buffer().Log(kLogSys, "up");
  c.Buffer().Log(kLogInfo, "ends in LF\n");
  c.Buffer().Log(kLogWarn, "ends in CR LF\r\n");
  c.Buffer().Log(kLogDebug, "");
  c.Buffer().Log(0x12345678, "wide");
  auto reply = StreamOf("100 1536\n.\n");
  CMyStreamBuf out;
  EXPECT_EQ(c.Send(*reply, out, nullptr), 100);
  EXPECT_EQ(ContentOf(out),
            "LOG\n[000F] boom\n[F0000] up\n[0F00] ends in LF\n[00F0] ends in CR LF\n"
            "[F000] \n[12345678] wide\n.\n");
}

TEST(LogCommand, LineBreaksInsideATextCannotEndTheRequest) {
  CLogCommand c;
  c.Buffer().Log(kLogInfo, "Subject: hi\n.\nSCAN_EMAIL\r\nFILE:x");
  auto reply = StreamOf("100 1536\n.\n");
  CMyStreamBuf out;
  ASSERT_EQ(c.Send(*reply, out, nullptr), 100);
  std::string wire = ContentOf(out);
  EXPECT_EQ(wire, "LOG\n[0F00] Subject: hi . SCAN_EMAIL  FILE:x\n.\n");
  // And the receiver gets it back as one entry.
  CLogCommand server;
  auto in = StreamOf(wire.substr(4));
  CMyStreamBuf reply2;
  EXPECT_EQ(server.Process(*in, reply2, nullptr), 100);
  EXPECT_EQ(EntriesOf(server.Buffer()),
            (Entries{{kLogInfo, "Subject: hi . SCAN_EMAIL  FILE:x"}}));
}

TEST(LogCommand, ALongTextIsCutToWhatTheReceiverTakes) {
  CLogCommand c;
  c.Buffer().Log(kLogInfo, "%s", std::string(40000, 'a').c_str());
  c.Buffer().Log(kLogSys, "%s", std::string(40000, 's').c_str());
  c.Buffer().Log(kLogWarn, "after");
  auto reply = StreamOf("100 1536\n.\n");
  CMyStreamBuf out;
  ASSERT_EQ(c.Send(*reply, out, nullptr), 100);
  std::string wire = ContentOf(out);
  CLogCommand server;
  auto in = StreamOf(wire.substr(4));
  CMyStreamBuf reply2;
  ASSERT_EQ(server.Process(*in, reply2, nullptr), 100) << "every line within the limit";
  Entries got = EntriesOf(server.Buffer());
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], (std::pair<uint32_t, std::string>{kLogInfo, std::string(0x8000 - 1 - 7, 'a')}));
  EXPECT_EQ(got[1].second, "[F0000] " + std::string(0x8000 - 1 - 8, 's'));
  EXPECT_EQ(got[2], (std::pair<uint32_t, std::string>{kLogWarn, "after"}));
}

TEST(LogCommand, ReceiverReadsLevelsAndTakesOtherLinesAtInfo) {
  struct {
    const char* line;
    uint32_t level;
    const char* text;
  } cases[] = {
      {"[00F0] disk full", kLogWarn, "disk full"},
      {"[000F] x", kLogAlert, "x"},
      {"[0f00] lower case hex", kLogInfo, "lower case hex"},
      {"[F0000] x", kLogInfo, "[F0000] x"},  // "]" not at position 5
      {"[00F0] ", kLogWarn, ""},             // seven characters
      {"[00F0]", kLogInfo, "[00F0]"},        // six
      {"[00F0]xyz", kLogWarn, "yz"},         // text from position 7
      {"[0G10] odd", 0, "odd"},              // hex stops at the first non-digit
      {"[zzzz] none", 0, "none"},
      {"plain text", kLogInfo, "plain text"},
      {" [00F0] indented", kLogInfo, " [00F0] indented"},
      {"100%s %n", kLogInfo, "100%s %n"},  // taken as text, never as a format
  };
  for (auto& c : cases) {
    CMyLogBuf buf;
    CLogCommand::TakeLine(buf, c.line, std::strlen(c.line));
    EXPECT_EQ(EntriesOf(buf), (Entries{{c.level, c.text}})) << c.line;
  }
  CMyLogBuf buf;
  CLogCommand::TakeLine(buf, "[F000] debug", 12);
  EXPECT_EQ(buf.Count(), 0u) << "the buffer's own filter drops dbg";
}

struct Received {
  int32_t code;
  std::string reply;
  Entries entries;
};

Received Receive(const std::string& body) {
  CCommandSet set;
  set.Add(new CLogCommand());
  auto in = StreamOf(body);
  CMyStreamBuf out;
  CTarvixPipeCommand* log = set.Find("LOG");
  int32_t code = log->Process(*in, out, nullptr);
  return {code, ContentOf(out), EntriesOf(static_cast<CLogCommand*>(log)->Buffer())};
}

TEST(LogCommand, ReceiverBodies) {
  Received r = Receive("[00F0] a\n\n\r\nplain\n[F000] dbg\n.\nNEXT\n");
  EXPECT_EQ(r.code, 100);
  EXPECT_EQ(r.reply, "100 1536\n.\n");
  EXPECT_EQ(r.entries, (Entries{{kLogWarn, "a"}, {kLogInfo, "plain"}}));

  struct {
    std::string body;
    int32_t code;
    size_t entries;
  } cases[] = {
      {".\n", 100, 0},
      {".", 100, 0},                            // last line without LF
      {"", 2, 0},                               // no terminator
      {"[00F0] a\n", 2, 1},                     // cut off
      {"..\n. \n.\n", 100, 2},                  // only "." ends it
      {std::string(0x8000 - 1, 'x') + "\n.\n", 100, 1},
      {std::string(0x8000, 'x') + "\n.\n", 2, 0},  // reaches the limit
  };
  for (auto& c : cases) {
    Received got = Receive(c.body);
    EXPECT_EQ(got.code, c.code) << c.body.substr(0, 20);
    EXPECT_EQ(got.entries.size(), c.entries) << c.body.substr(0, 20);
    if (c.code == 2) {
      EXPECT_EQ(got.reply, "") << "no reply to a failed request";
    }
  }
}

TEST(LogCommand, ReceiverStopsStoringAtItsBounds) {
  std::string body;
  for (size_t i = 0; i < CLogCommand::kMaxEntriesPerRequest + 5; ++i) body += "e\n";
  Received r = Receive(body + ".\nNEXT\n");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.entries.size(), CLogCommand::kMaxEntriesPerRequest);

  std::string line(0x7000, 'b');
  std::string big;
  size_t lines = CLogCommand::kMaxTextBytesPerRequest / line.size() + 2;
  for (size_t i = 0; i < lines; ++i) big += line + "\n";
  r = Receive(big + ".\n");
  EXPECT_EQ(r.code, 2);
  EXPECT_LE(r.entries.size() * line.size(), CLogCommand::kMaxTextBytesPerRequest);
  EXPECT_GE(r.entries.size(), lines - 3);
}

TEST(LogCommand, TheWholeRequestIsReadEvenPastTheBounds) {
  // The request ends where its "." is, so the next one starts cleanly.
  std::string body;
  for (size_t i = 0; i < CLogCommand::kMaxEntriesPerRequest + 1; ++i) body += "e\n";
  body += ".\nNEXT\n";
  CLogCommand c;
  auto in = StreamOf(body);
  CMyStreamBuf out;
  EXPECT_EQ(c.Process(*in, out, nullptr), 2);
  CMyLineBuffer line;
  ASSERT_EQ(ReadWireLine(*in, line, kMaxParamLine), LineResult::kLine);
  EXPECT_STREQ(line.Text(), "NEXT");
}

// ---- the pipe log ----

struct Sent {
  std::vector<Entries> commands;
  std::vector<std::string> names;
  int32_t code = 100;
  std::atomic<int> inside{0};
  bool overlapped = false;
  CMyPipeLog* log = nullptr;  // logs into it from inside the send when set
};

int32_t Record(void* connection, CTarvixPipeCommand& command) {
  auto* sent = static_cast<Sent*>(connection);
  if (sent->inside.fetch_add(1) != 0) sent->overlapped = true;
  std::this_thread::yield();
  sent->names.push_back(command.GetName());
  sent->commands.push_back(EntriesOf(static_cast<CLogCommand&>(command).Buffer()));
  if (sent->log) sent->log->LogAlert("from inside the send");
  sent->inside.fetch_sub(1);
  return sent->code;
}

TEST(PipeLog, EveryPassingEntryIsOneLogCommand) {
  Sent sent;
  CMyPipeLog log(&sent, Record);
  EXPECT_EQ(log.Connection(), &sent);
  log.LogWarn("disk %s", "full");
  log.LogDebug("dropped by the pipe log");
  log.LogInfo("%d files", 3);
  EXPECT_EQ(sent.names, (std::vector<std::string>{"LOG", "LOG"}));
  EXPECT_EQ(sent.commands, (std::vector<Entries>{{{kLogWarn, "disk full"}}, {{kLogInfo, "3 files"}}}));
  EXPECT_EQ(log.LastCode(), 100);
  sent.code = 2;
  log.LogAlert("x");
  EXPECT_EQ(log.LastCode(), 2);
}

TEST(PipeLog, ADebugEntryLetThroughGoesOutWithoutEntries) {
  Sent sent;
  CMyPipeLog log(&sent, Record);
  log.SetLevel(kLogDebug);
  log.LogDebug("d");
  ASSERT_EQ(sent.commands.size(), 1u);
  EXPECT_TRUE(sent.commands[0].empty()) << "the command's new buffer drops dbg";
}

TEST(PipeLog, NoSendFunctionNoSendAndNoRecursion) {
  CMyPipeLog idle;
  idle.LogAlert("nowhere");  // must simply return
  EXPECT_EQ(idle.LastCode(), kReturnInitial);

  Sent sent;
  CMyPipeLog log;
  log.SetSendFunction(&sent, Record);
  sent.log = &log;
  log.LogAlert("outer");
  EXPECT_EQ(sent.commands, (std::vector<Entries>{{{kLogAlert, "outer"}}}))
      << "the entry written inside the send is dropped, not sent again";
}

TEST(PipeLog, SendsLeaveOneAtATime) {
  Sent sent;
  CMyPipeLog log(&sent, Record);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 50; ++i) log.LogInfo("%d/%d", t, i);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(sent.commands.size(), 200u);
  EXPECT_FALSE(sent.overlapped);
}

// The pipe log's command over a real exchange: the receiving side's buffer
// gets what the sending side logged.
struct Loopback {
  CLogCommand server;
  std::string request;
};

int32_t SendThroughServer(void* connection, CTarvixPipeCommand& command) {
  auto* loop = static_cast<Loopback*>(connection);
  CMyStreamBuf toServer;
  auto noReply = StreamOf("");
  command.Send(*noReply, toServer, nullptr);  // writes the request, finds no reply
  loop->request = ContentOf(toServer);
  auto in = StreamOf(loop->request.substr(loop->request.find('\n') + 1));
  CMyStreamBuf reply;
  loop->server.Process(*in, reply, nullptr);
  auto back = StreamOf(ContentOf(reply));
  CMyStreamBuf again;
  // A second send with the real reply, as a client would see it.
  return command.Send(*back, again, nullptr);
}

TEST(PipeLog, EntriesArriveAtTheReceiver) {
  Loopback loop;
  CMyPipeLog log(&loop, SendThroughServer);
  log.SetLevel(kLogDebug);
  log.Log(kLogSys, "service %s", "started");
  EXPECT_EQ(loop.request, "LOG\n[F0000] service started\n.\n");
  EXPECT_EQ(EntriesOf(loop.server.Buffer()), (Entries{{kLogInfo, "[F0000] service started"}}))
      << "sys arrives as info with its bracket";
  EXPECT_EQ(log.LastCode(), 100);
  log.Log(kLogWarn, "w");
  EXPECT_EQ(EntriesOf(loop.server.Buffer()), (Entries{{kLogWarn, "w"}})) << "cleared per request";
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
