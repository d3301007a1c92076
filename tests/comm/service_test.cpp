// The stand-in security service as the add-in's service side meets it: the
// built-in answers of the three queries read through the add-in's own
// command classes, START_LISTENER, and the commands the service pushes down
// a registered listener connection (from the scenario's timeline and from
// control lines on its input), byte for byte, with what the service makes
// of the answers. The scenario's new lines are parsed in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "comm/client.h"
#include "comm/session.h"
#include "comm_printers.h"
#include "commands/notifycommands.h"
#include "commands/servicequeries.h"
#include "registry/registry.h"
#include "service_process.h"
#include "servicescenario.h"

namespace tarvixlib {
namespace commands {
namespace comm {
namespace {

using commtest::Client;
using commtest::CServiceProcess;
using commtest::UniquePipeName;
using tarvix::CGetTarvixStatusCommand;
using tarvixlib::comm::CTarvixSession;
using tarvixservice::CGetMAPISettingsCommand;
using tarvixservice::CGetSpecificationValueCommand;
using tarvixstandin::ListenerPush;
using tarvixstandin::ServiceScenario;

// A listener of the add-in's kind without the watcher: it registers a
// connection and reads and answers the pushes itself.
class CRawListener {
public:
  // Opens a connection and sends START_LISTENER; the reply code, or -1
  // when the connection could not be opened.
  int32_t Register(const std::string& pipe) {
    tarvixlib::comm::ConnectParams identity;
    identity.appType = tarvixlib::comm::kMailAddinWatcherType;
    identity.processId = GetCurrentProcessId();
    if (!session_.OpenPipe(".", pipe.c_str(), identity)) return -1;
    CStartListenerCommand start;
    int32_t code = start.Send(session_.Reader(), session_.Writer(), &session_);
    SetReadLimit(10000);
    return code;
  }
  void SetReadLimit(uint32_t ms) { session_.TarvixPipe::SetIoTimeLimit(ms); }

  // The bytes of one pushed request through its "." line, as they came;
  // what came before the connection ended or the read limit passed, with
  // "<end>" appended.
  std::string ReadPush() {
    std::string bytes;
    while (bytes.size() < 65536) {
      int byte = session_.Reader().ReadByte();
      if (byte < 0) return bytes + "<end>";
      bytes += static_cast<char>(byte);
      if (bytes.size() >= 3 && bytes.compare(bytes.size() - 3, 3, "\n.\n") == 0) return bytes;
    }
    return bytes;
  }
  bool Answer(const std::string& bytes) {
    return WriteBytes(session_.Writer(), bytes.data(), bytes.size()) &&
           FlushWriter(session_.Writer());
  }
  // Bytes waiting in the pipe, not yet read.
  DWORD Waiting() {
    DWORD available = 0;
    PeekNamedPipe(session_.Handle(), nullptr, 0, nullptr, &available, nullptr);
    return available;
  }
  CTarvixSession& Session() { return session_; }
  void Close() { session_.Close(false); }

private:
  CTarvixSession session_{/*polite=*/false};
};

std::wstring Wide(const std::string& utf8) {
  std::wstring text(utf8.size(), L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0],
                              static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class ServiceTest : public commtest::ServiceProcessTest {
protected:
  // Starts the service with the scenario and registers the listener.
  void StartRegistered(const char* scenario, CRawListener& listener) {
    ASSERT_TRUE(service.Start(pipe, scenario));
    ASSERT_EQ(listener.Register(pipe), kReturnSuccess);
    ASSERT_TRUE(service.WaitFor("] listener registered", 5000)) << service.Output();
  }
};

TEST_F(ServiceTest, QueryDefaultsParseThroughTheAddinsCommands) {
  ASSERT_TRUE(service.Start(pipe, ""));
  Client client(pipe);

  CGetTarvixStatusCommand status;
  ASSERT_EQ(client.comm.SendLocal(status, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(status.GetReturnCode(), kReturnSuccess);
  const tarvix::StatusRecord& r = status.Record();
  std::string mainPath = r.MAIN_PATH_W.GetString();
  EXPECT_TRUE(EndsWith(mainPath, "\\main\\")) << mainPath;
  EXPECT_STREQ(r.MAIN_PATH.GetString(), mainPath.c_str()) << "an ASCII folder reads the same";
  // The add-in finds its language files and icon in "..\image\" from there.
  for (const char* file : {"omlang.en", "omlang.de", "big_main_icon.ico"}) {
    std::wstring path = Wide(mainPath + "..\\image\\" + file);
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << mainPath << file;
  }
  EXPECT_EQ(r.VER_SERVICE, 1503u);
  EXPECT_EQ(r.VER_VDB_DATE, 1796083200u);
  EXPECT_EQ(r.VDB_SIGNATURE_COUNT, 4718592u);
  EXPECT_EQ(r.CONFIGCRC, 3735928559u);
  EXPECT_EQ(r.STAT_WATCH, 1u);
  EXPECT_TRUE(r.LIVESCAN_STATUS);
  EXPECT_TRUE(r.EMAILSCAN_STATUS);
  EXPECT_TRUE(r.SPAMCHECK);
  EXPECT_TRUE(r.WRITEALLOWED);
  EXPECT_FALSE(r.SCAN_RUNNING);
  EXPECT_STREQ(r.HLVX_HOST.GetString(), "update.zelvok.example");

  CGetSpecificationValueCommand spec;
  ASSERT_EQ(client.comm.SendLocal(spec, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(spec.GetReturnCode(), kReturnSuccess);
  EXPECT_STREQ(spec.productLong.Get().GetString(), "Tarvix Internet Security");
  EXPECT_STREQ(spec.contactHomepage.Get().GetString(), "https://www.zelvok.example/tarvix");
  EXPECT_STREQ(spec.product.Get().GetString(), "tarvix");
  EXPECT_STREQ(spec.productType.Get().GetString(), "IS");
  EXPECT_STREQ(spec.name.Get().GetString(), "Zelvok Software GmbH");
  EXPECT_STREQ(spec.mail.Get().GetString(), "support@zelvok.example");
  EXPECT_FALSE(spec.rightToLeft.Get());

  CGetMAPISettingsCommand settings;
  ASSERT_EQ(client.comm.SendLocal(settings, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(settings.GetReturnCode(), kReturnSuccess);
  EXPECT_TRUE(settings.scanEmail.Get());
  EXPECT_TRUE(settings.showWindow.Get());
  EXPECT_FALSE(settings.saveToQu.Get());
  EXPECT_EQ(settings.buildNr.Get(), 4242u);
  EXPECT_EQ(settings.language.Get(), 1033u);
  EXPECT_EQ(settings.vdbDate.Get(), 20261201u);
  EXPECT_EQ(settings.disclR.Get(), 1u);
  EXPECT_EQ(settings.disclS.Get(), 1u);
  EXPECT_TRUE(settings.spamCheck.Get());
  EXPECT_EQ(settings.spamAction.Get(), 1u);
  EXPECT_TRUE(settings.closeWin.Get());
}

TEST_F(ServiceTest, ScenarioLinesReplaceTheDefaults) {
  ASSERT_TRUE(service.Start(pipe,
                            "value GET_MAPISETTINGS BUILDNR 77\n"
                            "value get_mapisettings scanemail no\n"
                            "command GET_SPECIFICATION_VALUE 1\n"
                            "clear GET_TARVIXSTATUS\n"
                            "value GET_TARVIXSTATUS MAIN_PATH_W C:\\Tarvix\\main\\\n"));
  Client client(pipe);
  CGetMAPISettingsCommand settings;
  ASSERT_EQ(client.comm.SendLocal(settings, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(settings.GetReturnCode(), kReturnSuccess);
  EXPECT_EQ(settings.buildNr.Get(), 77u);
  EXPECT_FALSE(settings.scanEmail.Get());
  EXPECT_TRUE(settings.showWindow.Get()) << "the other defaults stay";

  CGetSpecificationValueCommand spec;
  ASSERT_EQ(client.comm.SendLocal(spec, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(spec.GetReturnCode(), kReturnNotRun);
  EXPECT_STREQ(spec.productLong.Get().GetString(), "Tarvix Internet Security")
      << "only the code changed";

  CGetTarvixStatusCommand status;
  ASSERT_EQ(client.comm.SendLocal(status, false, nullptr), host::SendResult::kOk);
  EXPECT_EQ(status.GetReturnCode(), kReturnSuccess);
  EXPECT_STREQ(status.Record().MAIN_PATH_W.GetString(), "C:\\Tarvix\\main\\");
  EXPECT_EQ(status.Record().VER_SERVICE, 0u) << "cleared";
  EXPECT_STREQ(status.Record().MAIN_PATH.GetString(), "") << "cleared";
}

TEST_F(ServiceTest, StartListenerIsAcceptedUnlessTheScenarioRefusesIt) {
  struct {
    const char* scenario;
    int32_t code;
  } cases[] = {
      {"", kReturnSuccess},
      {"command START_LISTENER 2\n", kReturnFailed},
      {"command START_LISTENER 170\n", CStartListenerCommand::kRefused},
  };
  for (auto& c : cases) {
    CServiceProcess one;
    std::string name = UniquePipeName("listener");
    ASSERT_TRUE(one.Start(name, c.scenario));
    CRawListener listener;
    EXPECT_EQ(listener.Register(name), c.code) << c.scenario;
    if (c.code == kReturnSuccess) {
      EXPECT_TRUE(one.WaitFor("] listener registered", 5000)) << one.Output();
      continue;
    }
    // Refused: the connection still carries the client's commands.
    CNopCommand nop;
    EXPECT_EQ(nop.Send(listener.Session().Reader(), listener.Session().Writer(),
                       &listener.Session()),
              kReturnSuccess)
        << c.scenario;
    EXPECT_TRUE(one.WaitFor("NOP -> 100", 5000)) << one.Output();
    EXPECT_EQ(one.Count("listener registered"), 0u) << one.Output();
    listener.Close();
    EXPECT_TRUE(one.Stop());
  }
}

// Every kind of push from control lines, on one registered connection: the
// bytes that arrive, the answer the test gives, and the service's report.
TEST_F(ServiceTest, PushesFromStandardInputArriveAsWrittenAndAnswersAreReported) {
  CRawListener listener;
  ASSERT_NO_FATAL_FAILURE(StartRegistered("answer-wait 3000\n", listener));
  // An answer larger than one read: it must be read to its end, not only
  // as far as the first read went.
  const std::string big = "100 0\nX:" + std::string(8000, 'a') + "\n.\n";
  struct {
    const char* control;
    const char* bytes;
    const char* answer;  // null: none
    const char* report;
  } cases[] = {
      {"push STATUS_CHANGED", "STATUS_CHANGED\n.\n", nullptr,
       "] pushed STATUS_CHANGED -> no answer"},
      {"push STATUS_CHANGED E=10", "STATUS_CHANGED\nE:10\n.\n", nullptr,
       "] pushed STATUS_CHANGED E=10 -> no answer"},
      {"push stop_application", "stop_application\n.\n", nullptr,
       "] pushed stop_application -> no answer"},
      {"push Stop_Application", "Stop_Application\n.\n", nullptr,
       "] pushed Stop_Application -> no answer"},
      {"push NOP", "NOP\n.\n", "100 1536\n.\n", "] pushed NOP -> 100 1536"},
      {"  push   NOP  TRACE=1  ", "NOP\nTRACE:1\n.\n", "100 0\nX:1\n.\n",
       "] pushed NOP TRACE=1 -> 100 0 | X:1"},
      {"push MAKE_TEA KIND=green CUPS=2 NOTE=a:b=c", "MAKE_TEA\nKIND:green\nCUPS:2\nNOTE:a:b=c\n.\n",
       "101 Unknown command\n.\n", "] pushed MAKE_TEA KIND=green CUPS=2 NOTE=a:b=c -> 101 Unknown command"},
      {"push AUTOUPDATE_POSTMESSAGE URL=https://u.example/x",
       "AUTOUPDATE_POSTMESSAGE\nURL:https://u.example/x\n.\n", nullptr,
       "] pushed AUTOUPDATE_POSTMESSAGE URL=https://u.example/x -> no answer"},
      {"push NOP WAIT=1", "NOP\nWAIT:1\n.\n", nullptr, "] pushed NOP WAIT=1 -> no answer"},
      {"push NOP CUT=1", "NOP\nCUT:1\n.\n", "100 15", "] pushed NOP CUT=1 -> incomplete answer: 100 15"},
      {"push NOP BIG=1", "NOP\nBIG:1\n.\n", big.c_str(), "] pushed NOP BIG=1 -> 100 0 | X:aaaaaaaa"},
      {"push CLOSE_CONNECTION", "CLOSE_CONNECTION\n.\n", "100 1536\n.\n",
       "] pushed CLOSE_CONNECTION -> 100 1536"},
  };
  for (auto& c : cases) {
    ASSERT_TRUE(service.WriteInput(std::string(c.control) + "\n"));
    EXPECT_EQ(listener.ReadPush(), c.bytes) << c.control;
    if (c.answer) {
      ASSERT_TRUE(listener.Answer(c.answer)) << c.control;
    }
    EXPECT_TRUE(service.WaitFor(c.report, 10000)) << c.control << "\n" << service.Output();
  }
  listener.Close();
  EXPECT_TRUE(service.WaitFor("] listener closed by the add-in", 5000)) << service.Output();
}

TEST_F(ServiceTest, AnAnsweredNotificationIsReportedAsUnexpected) {
  CRawListener listener;
  ASSERT_NO_FATAL_FAILURE(StartRegistered("", listener));
  ASSERT_TRUE(service.WriteInput("push STATUS_CHANGED E=3\n"));
  EXPECT_EQ(listener.ReadPush(), "STATUS_CHANGED\nE:3\n.\n");
  ASSERT_TRUE(listener.Answer("100 0\n.\n"));
  // Within the notification's short wait it is the push's answer; later,
  // bytes nobody asked for. Either way the service shows them.
  EXPECT_TRUE(service.WaitFor("100 0\\n.\\n", 5000)) << service.Output();
  EXPECT_NE(service.Output().find("unexpected"), std::string::npos) << service.Output();
}

TEST_F(ServiceTest, OnePushAtATimeOnAConnection) {
  CRawListener listener;
  ASSERT_NO_FATAL_FAILURE(StartRegistered("", listener));
  ASSERT_TRUE(service.WriteInput("push NOP\npush NOP SECOND=1\n"));
  EXPECT_EQ(listener.ReadPush(), "NOP\n.\n");
  Sleep(500);
  EXPECT_EQ(listener.Waiting(), 0u) << "the next push waits for the answer";
  listener.SetReadLimit(300);
  EXPECT_EQ(listener.ReadPush(), "<end>");
  listener.SetReadLimit(10000);
  ASSERT_TRUE(listener.Answer("100 1536\n.\n"));
  EXPECT_EQ(listener.ReadPush(), "NOP\nSECOND:1\n.\n");
  ASSERT_TRUE(listener.Answer("100 1536\n.\n"));
  EXPECT_TRUE(service.WaitFor("] pushed NOP SECOND=1 -> 100 1536", 5000)) << service.Output();
  size_t first = service.Output().find("] pushed NOP -> 100 1536");
  EXPECT_LT(first, service.Output().find("] pushed NOP SECOND=1")) << service.Output();
}

TEST_F(ServiceTest, TimelinePushesThenHangsUp) {
  ASSERT_TRUE(service.Start(pipe,
                            "push 300 hangup\n"
                            "push 100 NOP\n"
                            "push 200 STATUS_CHANGED E=10\n"));
  CRawListener listener;
  ASSERT_EQ(listener.Register(pipe), kReturnSuccess);
  EXPECT_EQ(listener.ReadPush(), "NOP\n.\n");
  ASSERT_TRUE(listener.Answer("100 1536\n.\n"));
  EXPECT_EQ(listener.ReadPush(), "STATUS_CHANGED\nE:10\n.\n");
  DWORD start = GetTickCount();
  EXPECT_EQ(listener.ReadPush(), "<end>");
  EXPECT_LT(GetTickCount() - start, 5000u) << "the service hung up; no read limit ran out";
  EXPECT_TRUE(service.WaitFor("] listener closed by the service", 5000)) << service.Output();
  std::string out = service.Output();
  EXPECT_NE(out.find("] pushed NOP -> 100 1536"), std::string::npos) << out;
  EXPECT_NE(out.find("] pushed STATUS_CHANGED E=10 -> no answer"), std::string::npos) << out;
  EXPECT_EQ(out.find("closed by the add-in"), std::string::npos) << out;
}

// Each timed push fires once, on the listener registered last that is
// still open; when that one goes, the one before it takes the rest.
TEST_F(ServiceTest, TimedPushesGoToTheCurrentListener) {
  ASSERT_TRUE(service.Start(pipe,
                            "push 3000 NOP\n"
                            "push 3000 hangup\n"
                            "push 3000 STATUS_CHANGED\n"));
  CRawListener older, newer;
  ASSERT_EQ(older.Register(pipe), kReturnSuccess);
  ASSERT_EQ(newer.Register(pipe), kReturnSuccess);
  EXPECT_EQ(newer.ReadPush(), "NOP\n.\n");
  ASSERT_TRUE(newer.Answer("100 1536\n.\n"));
  EXPECT_EQ(newer.ReadPush(), "<end>");
  EXPECT_EQ(older.ReadPush(), "STATUS_CHANGED\n.\n");
  EXPECT_TRUE(service.WaitFor("] pushed STATUS_CHANGED -> no answer", 5000)) << service.Output();
  EXPECT_EQ(service.Count("] pushed"), 2u) << service.Output();
}

TEST_F(ServiceTest, APushWithoutAListenerWaitsForTheNextOne) {
  ASSERT_TRUE(service.Start(pipe, ""));
  ASSERT_TRUE(service.WriteInput("push STOP_APPLICATION\n"));
  EXPECT_TRUE(service.WaitFor("push STOP_APPLICATION waits for a listener", 5000))
      << service.Output();
  CRawListener listener;
  ASSERT_EQ(listener.Register(pipe), kReturnSuccess);
  EXPECT_EQ(listener.ReadPush(), "STOP_APPLICATION\n.\n");
  EXPECT_TRUE(service.WaitFor("] pushed STOP_APPLICATION -> no answer", 5000)) << service.Output();
}

TEST_F(ServiceTest, HangUpsOnEitherSideAreReported) {
  ASSERT_TRUE(service.Start(pipe, ""));
  {
    CRawListener listener;
    ASSERT_EQ(listener.Register(pipe), kReturnSuccess);
    listener.Close();
    EXPECT_TRUE(service.WaitFor("] listener closed by the add-in", 5000)) << service.Output();
  }
  CRawListener listener;
  ASSERT_EQ(listener.Register(pipe), kReturnSuccess);
  ASSERT_TRUE(service.WriteInput("push hangup\n"));
  EXPECT_EQ(listener.ReadPush(), "<end>");
  EXPECT_TRUE(service.WaitFor("] listener closed by the service", 5000)) << service.Output();
  EXPECT_EQ(service.Count("listener registered"), 2u);
}

TEST_F(ServiceTest, ALanguagePushSetsTheChoiceAndSendsNothing) {
  namespace registry = tarvixlib::registry;
  registry::DeleteValue(HKEY_CURRENT_USER, registry::kProductKey, "Language");
  CRawListener listener;
  ASSERT_NO_FATAL_FAILURE(StartRegistered("", listener));
  ASSERT_TRUE(service.WriteInput("push language de\npush NOP\n"));
  EXPECT_EQ(listener.ReadPush(), "NOP\n.\n") << "the language push wrote nothing";
  EXPECT_TRUE(service.WaitFor("] language choice de: set", 5000)) << service.Output();
  char code[16] = {};
  EXPECT_TRUE(registry::ReadString(HKEY_CURRENT_USER, registry::kProductKey, "Language", code,
                                   sizeof code));
  EXPECT_STREQ(code, "de");
  registry::DeleteValue(HKEY_CURRENT_USER, registry::kProductKey, "Language");
}

TEST_F(ServiceTest, StopIsNotHeldUpByAnAnswerThatNeverComes) {
  CRawListener listener;
  ASSERT_NO_FATAL_FAILURE(StartRegistered("answer-wait 600000\n", listener));
  ASSERT_TRUE(service.WriteInput("push NOP\n"));
  EXPECT_EQ(listener.ReadPush(), "NOP\n.\n");
  DWORD start = GetTickCount();
  EXPECT_TRUE(service.Stop());
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_EQ(service.ExitCode(), 0u) << service.Output();
}

TEST_F(ServiceTest, BadControlLinesAreReportedAndIgnored) {
  ASSERT_TRUE(service.Start(pipe, ""));
  ASSERT_TRUE(service.WriteInput("push\npull NOP\npush NOP E10\npush hangup now\n\n"));
  EXPECT_TRUE(service.WaitForCount("control line ignored", 4, 5000)) << service.Output();
  std::string out = service.Output();
  EXPECT_NE(out.find("(unknown control line): pull NOP"), std::string::npos) << out;
  EXPECT_NE(out.find("(expected KEY=VALUE: E10): push NOP E10"), std::string::npos) << out;
  EXPECT_NE(out.find("(hangup takes no parameters)"), std::string::npos) << out;
  // The service goes on: a good line after them still pushes.
  ASSERT_TRUE(service.WriteInput("push NOP\n"));
  CRawListener listener;
  ASSERT_EQ(listener.Register(pipe), kReturnSuccess);
  EXPECT_EQ(listener.ReadPush(), "NOP\n.\n");
}

// ---- the scenario's lines, parsed in-process ----

TEST(ServiceScenarioTest, PushLinesAndTheAnswerWait) {
  ServiceScenario s;
  std::string error;
  ASSERT_TRUE(tarvixstandin::ParseServiceScenario(
      "push 250 stop_application\n"
      "push 0 STATUS_CHANGED E=10 NOTE=a=b EMPTY=\n"
      "push 0x10 hangup\n"
      "answer-wait 700\n",
      s, error))
      << error;
  ASSERT_EQ(s.pushes.size(), 3u);
  EXPECT_EQ(s.pushes[0].atMs, 250u);
  EXPECT_EQ(s.pushes[0].name, "stop_application");
  EXPECT_FALSE(s.pushes[0].hangup);
  ASSERT_EQ(s.pushes[1].params.size(), 3u);
  EXPECT_EQ(s.pushes[1].params[0].key, "E");
  EXPECT_EQ(s.pushes[1].params[0].text, "10");
  EXPECT_EQ(s.pushes[1].params[1].text, "a=b");
  EXPECT_EQ(s.pushes[1].params[2].text, "");
  EXPECT_EQ(s.pushes[1].Describe(), "STATUS_CHANGED E=10 NOTE=a=b EMPTY=");
  EXPECT_TRUE(s.pushes[2].hangup);
  EXPECT_EQ(s.pushes[2].atMs, 16u);
  EXPECT_EQ(s.answerWaitMs, 700u);
}

TEST(ServiceScenarioTest, OneWayPushesAreThoseTheListenerNeverAnswers) {
  struct {
    const char* name;
    bool oneWay;
  } cases[] = {
      {"STATUS_CHANGED", true},          {"status_changed", true},
      {"Stop_Application", true},        {"AUTOUPDATE_POSTMESSAGE", true},
      {"autoupdate_postmessage", false},  // the listener drains it silently only so spelt
      {"NOP", false},                    {"CLOSE_CONNECTION", false},
      {"STATUS_CHANGED_X", false},
  };
  for (auto& c : cases) {
    ListenerPush push;
    push.name = c.name;
    EXPECT_EQ(push.OneWay(), c.oneWay) << c.name;
  }
}

TEST(ServiceScenarioTest, BadNewLinesNameTheirLineAndReason) {
  struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"push\n", "line 1: expected: push <ms> <NAME>|hangup"},
      {"push soon NOP\n", "line 1: expected: push <ms> <NAME>|hangup"},
      {"push -5 NOP\n", "line 1: expected: push <ms> <NAME>|hangup"},
      {"push 100\n", "line 1: expected: push <NAME> [KEY=VALUE ...] or push hangup"},
      {"push 100 NOP E10\n", "line 1: expected KEY=VALUE: E10"},
      {"push 100 NOP =10\n", "line 1: expected KEY=VALUE: =10"},
      {"push 100 NOP A:B=1\n", "line 1: expected KEY=VALUE: A:B=1"},
      {"push 100 hangup now\n", "line 1: hangup takes no parameters"},
      {"push 100 language\n", "line 1: expected: language <code>"},
      {"push 100 language de now\n", "line 1: expected: language <code>"},
      {"push 100 A:B\n", "line 1: not a command name: A:B"},
      {"push 100 .\n", "line 1: not a command name: ."},
      {"# timeline\npush 100 NOP\npush 200 X=1\n", "line 3: not a command name: X=1"},
      {"clear\n", "line 1: expected: clear <NAME>"},
      {"clear NOP now\n", "line 1: expected: clear <NAME>"},
      {"answer-wait\n", "line 1: expected a number"},
      {"answer-wait 1s\n", "line 1: expected a number"},
  };
  for (auto& c : cases) {
    ServiceScenario s;
    std::string error;
    EXPECT_FALSE(tarvixstandin::ParseServiceScenario(c.text, s, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(ServiceScenarioTest, ValueLinesReplaceAKeyInPlaceAndClearDropsAll) {
  ServiceScenario s;
  tarvixstandin::AddQueryDefaults(s, "C:\\T\\main\\", "C:\\T\\main\\");
  const tarvixstandin::ScriptedCommand* status = s.FindCommand("GET_TARVIXSTATUS");
  ASSERT_NE(status, nullptr);
  size_t keys = status->values.size();
  EXPECT_EQ(keys, 42u) << "one value per key of the status command";
  std::string error;
  ASSERT_TRUE(tarvixstandin::ParseServiceScenario(
      "value GET_TARVIXSTATUS main_path_w D:\\Other\\\n"
      "value GET_TARVIXSTATUS EXTRA 1\n"
      "value GET_TARVIXSTATUS EXTRA 2\n"
      "clear GET_MAPISETTINGS\n"
      "value GET_MAPISETTINGS BUILDNR 9\n",
      s, error))
      << error;
  status = s.FindCommand("GET_TARVIXSTATUS");
  ASSERT_EQ(status->values.size(), keys + 1);
  EXPECT_EQ(status->values[40].key, "MAIN_PATH_W");
  EXPECT_EQ(status->values[40].text, "D:\\Other\\");
  EXPECT_EQ(status->values.back().text, "2");
  const tarvixstandin::ScriptedCommand* settings = s.FindCommand("GET_MAPISETTINGS");
  ASSERT_EQ(settings->values.size(), 1u);
  EXPECT_EQ(settings->values[0].text, "9");
  EXPECT_EQ(settings->code, kReturnSuccess);
}

}  // namespace
}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
