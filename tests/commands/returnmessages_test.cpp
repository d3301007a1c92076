// Return messages, command ids, copies, traces and the command set.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "commands/commandset.h"
#include "test_commands.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace {

using testing_::ContentOf;
using testing_::EchoCommand;
using testing_::StreamOf;

// Shaped like SCAN_EMAIL: string parameters, a binary request parameter,
// an own return message.
class ScanLike : public CCopyableTarvixPipeCommand {
public:
  CStringParam file{"FILE", ""};
  CBinaryParam data;
  CStringParam scanret{"SCANRET", ""};
  CULongParam sigid{"SIGID", 0};
  ScanLike() : CCopyableTarvixPipeCommand("SCAN_EMAIL", 0) { Register(); }
  CCopyableTarvixPipeCommand* Clone(bool newId) const override { return new ScanLike(*this, newId); }

private:
  ScanLike(const ScanLike& other, bool newId) : CCopyableTarvixPipeCommand(other, newId) {
    Register();
  }
  void Register() {
    AddRequestParam(file);
    AddBinaryRequestParam(data);
    AddResponseParam(scanret);
    AddResponseParam(sigid);
    AddReturnMessage(800, 1326);
  }
};

TEST(ReturnMessages, DefaultTableInItsOrder) {
  const CReturnMessages& table = CDefaultReturnMessages::Instance();
  ASSERT_EQ(table.Count(), 5u);
  const CReturnMessage expected[] = {{100, 1536}, {2, 1537}, {110, 1537}, {140, 1538}, {250, 1539}};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(table.At(i), expected[i]) << i;
  EXPECT_EQ(ProcessDefaultReturnMessage(), CReturnMessage(3, 1541));
}

TEST(ReturnMessages, LookupOwnTableFirstThenDefaults) {
  ScanLike c;
  EXPECT_EQ(c.GetReturnMessage(), CReturnMessage(3, 1541)) << "a fresh command";
  ASSERT_NE(c.FindReturnMessage(800), nullptr);
  EXPECT_EQ(c.FindReturnMessage(800)->TextId(), 1326);
  ASSERT_NE(c.FindReturnMessage(2), nullptr);
  EXPECT_EQ(c.FindReturnMessage(2)->TextId(), 1537);
  EXPECT_EQ(c.FindReturnMessage(7), nullptr);
  c.SetReturn(7);
  EXPECT_EQ(c.GetReturnMessage(), CReturnMessage(7, 0));
  c.SetReturn(800);
  EXPECT_EQ(c.GetReturnMessage(), CReturnMessage(800, 1326));
  // An own entry shadows the default one; the first of equal codes wins.
  c.AddReturnMessage(100, 5);
  c.AddReturnMessage(100, 6);
  c.SetReturn(100);
  EXPECT_EQ(c.GetReturnMessage(), CReturnMessage(100, 5));
}

TEST(ReturnMessages, TableGrowsPastItsSteps) {
  CReturnMessages table;
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(table.Add(i, 1000 + i));
  EXPECT_EQ(table.Count(), 40u);
  EXPECT_EQ(table.Find(39)->TextId(), 1039);
  CReturnMessages copy(table);
  table.Clear();
  EXPECT_EQ(copy.Count(), 40u);
  EXPECT_EQ(copy.Find(17)->TextId(), 1017);
  EXPECT_EQ(table.Find(17), nullptr);
}

TEST(ReturnMessages, Texts) {
  CMyStringA text("old");
  CReturnMessage(100, 1536).Describe(text, false);
  EXPECT_STREQ(text.GetString(), "100, i18n::StringId: 1536");
  CReturnMessage(-2, 0).Describe(text, true);
  EXPECT_STREQ(text.GetString(), "100, i18n::StringId: 1536-2, i18n::StringId: 0");
  CMyStringA list;
  CDefaultReturnMessages::Instance().Describe(list);
  EXPECT_STREQ(list.GetString(),
               "100, i18n::StringId: 1536\n2, i18n::StringId: 1537\n110, i18n::StringId: 1537\n"
               "140, i18n::StringId: 1538\n250, i18n::StringId: 1539");
}

TEST(Describe, BriefFullAndWithoutParameters) {
  ScanLike c;
  c.file.Set("a.txt");
  c.sigid.Set(9);
  CMyStringA text("old");
  c.Describe(text, true, false);
  EXPECT_STREQ(text.GetString(), "[CMD] SCAN_EMAIL");
  c.Describe(text, false, false);
  EXPECT_STREQ(text.GetString(),
               "[CMD] SCAN_EMAIL\nRequest parameters:\nstring a.txt\nbinary"
               "\n\nResponse parameters:\nstring \nunsigned long 9"
               "\n\nReturn values (might be incomplete):\n800, i18n::StringId: 1326");
  CTarvixPipeCommand bare("BARE", 0);
  std::string before = text.GetString();
  bare.Describe(text, false, true);
  EXPECT_EQ(std::string(text.GetString()), before + "[CMD] BARE") << "appended, first line only";
  bare.Describe(text, false, false);
  EXPECT_STREQ(text.GetString(), "[CMD] BARE");
}

TEST(Commands, IdsComeFromOneCounterAndCopiesKeepOrRenewThem) {
  ScanLike a, b;
  EXPECT_EQ(b.GetId(), a.GetId() + 1);
  EXPECT_GE(a.GetId(), 2);
  EXPECT_GT(NextCommandId(), b.GetId());

  a.SetReturn(800);
  a.file.Set("x");
  std::unique_ptr<CCopyableTarvixPipeCommand> same(a.Clone(false));
  std::unique_ptr<CCopyableTarvixPipeCommand> fresh(a.Clone(true));
  EXPECT_EQ(same->GetId(), a.GetId());
  EXPECT_NE(fresh->GetId(), a.GetId());
  EXPECT_STREQ(fresh->GetName(), "SCAN_EMAIL");
  EXPECT_EQ(fresh->GetReturnMessage(), CReturnMessage(3, 1541));
  EXPECT_EQ(fresh->RequestParams().Count(), 2u) << "registered again by the copy";
  EXPECT_EQ(fresh->OwnReturnMessages().Count(), 1u);
  auto* scan = static_cast<ScanLike*>(fresh.get());
  EXPECT_STREQ(scan->file.Get().GetString(), "") << "the copy's own parameters";

  CNopCommand nop;
  std::unique_ptr<CCopyableTarvixPipeCommand> nop2(nop.Clone(true));
  auto in = StreamOf(".\n");
  CMyStreamBuf out;
  EXPECT_EQ(nop2->Process(*in, out, nullptr), 100);
  EXPECT_EQ(ContentOf(out), "100 1536\n.\n");
  EXPECT_STREQ(nop2->GetName(), "NOP");
}

TEST(Commands, IdsAreUniqueAcrossThreads) {
  std::vector<int32_t> ids[4];
  std::vector<std::thread> threads;
  for (auto& list : ids)
    threads.emplace_back([&list] {
      for (int i = 0; i < 2000; ++i) list.push_back(NextCommandId());
    });
  for (auto& t : threads) t.join();
  std::vector<int32_t> all;
  for (auto& list : ids) all.insert(all.end(), list.begin(), list.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

TEST(Commands, DisabledParametersAreNotRegistered) {
  class C : public CTarvixPipeCommand {
  public:
    CStringParam on{"ON", "d"};
    CStringParam off{"OFF", "d", /*enabled=*/false};
    C() : CTarvixPipeCommand("C", 0) {
      on.Set("changed");
      AddRequestParam(on);   // reset on the way in
      AddRequestParam(off);
      AddResponseParam(off);
    }
  } c;
  EXPECT_EQ(c.RequestParams().Count(), 1u);
  EXPECT_EQ(c.ResponseParams().Count(), 0u);
  EXPECT_STREQ(c.on.Get().GetString(), "d");
}

TEST(Commands, PipeHandleAwareRemembersTheContextsHandle) {
  // Made-up handle values: the command only carries them.
  platform::FileHandle first = reinterpret_cast<platform::FileHandle>(intptr_t{0x1234});
  platform::FileHandle second = reinterpret_cast<platform::FileHandle>(intptr_t{77});
  CPipeHandleAwareCommandT<CTarvixPipeCommand> c("START_LISTENER", 0);
  EXPECT_EQ(c.GetPipeHandle(), platform::InvalidFileHandle());
  CCommandContext context;
  context.SetPipeHandle(first);
  auto in = StreamOf("100 1536\n.\n");
  CMyStreamBuf out;
  EXPECT_EQ(c.Send(*in, out, &context), 100);
  EXPECT_EQ(c.GetPipeHandle(), first);
  context.SetPipeHandle(second);
  auto in2 = StreamOf(".\n");
  EXPECT_EQ(c.Process(*in2, out, &context), 100);
  EXPECT_EQ(c.GetPipeHandle(), second);
}

TEST(Context, VariablesTrimAndIgnoreCase) {
  CCommandContext context;
  EXPECT_FALSE(context.IsYes("${STOP}"));
  EXPECT_TRUE(context.IsYes("${STOP}", true));
  EXPECT_TRUE(context.SetVariable("  ${Stop}\t", " YES "));
  EXPECT_STREQ(context.GetVariable("${STOP}"), "YES");
  EXPECT_TRUE(context.IsYes("${stop}"));
  context.SetVariable("${STOP}", false);
  EXPECT_FALSE(context.IsYes("${STOP}", true));
  EXPECT_FALSE(context.SetVariable(" \t", "x"));
  context.ClearVariables();
  EXPECT_EQ(context.GetVariable("${STOP}"), nullptr);
}

// ---- events ----

struct Log : CMyObserver<CBinaryDownloadProgressEvent> {
  std::vector<std::string>* order;
  std::string name;
  Log(std::vector<std::string>* o, std::string n) : order(o), name(std::move(n)) {}
  void OnEvent(CMyEventSource<CBinaryDownloadProgressEvent>&,
               const CBinaryDownloadProgressEvent& e) override {
    order->push_back(name + ":" + std::to_string(e.percent));
  }
};

TEST(Events, ChainedSourcesFirstThenObserversInOrder) {
  std::vector<std::string> order;
  CMyEventSource<CBinaryDownloadProgressEvent> top, chained, deeper;
  Log a(&order, "a"), b(&order, "b"), c(&order, "c"), d(&order, "d");
  top.AddObserver(&a);
  top.AddObserver(&b);
  top.AddObserver(&a);  // already there
  chained.AddObserver(&c);
  deeper.AddObserver(&d);
  chained.AddChainedSource(&deeper);
  top.AddChainedSource(&chained);
  top.AddChainedSource(&top);  // never itself
  top.Fire({42});
  EXPECT_EQ(order, (std::vector<std::string>{"d:42", "c:42", "a:42", "b:42"}));
  EXPECT_EQ(top.ObserverCount(), 2u);
  order.clear();
  top.RemoveObserver(&a);
  top.RemoveChainedSource(&chained);
  top.Fire({1});
  EXPECT_EQ(order, std::vector<std::string>{"b:1"});
}

// ---- the command set and the dispatch of one request ----

struct Served {
  ServeResult result;
  std::string written;
  std::string rest;  // what the reader still holds afterwards
};

Served Serve(CCommandSet& set, const char* name, const std::string& request, bool answerUnknown,
             CCommandContext* context = nullptr) {
  auto in = StreamOf(request);
  CMyStreamBuf out;
  ServeResult result = set.Dispatch(name, *in, out, context, answerUnknown);
  std::string rest;
  for (int c; (c = in->ReadByte()) >= 0;) rest += static_cast<char>(c);
  return {result, ContentOf(out), rest};
}

TEST(CommandSet, UnknownNamesAreDrainedAndAnswered) {
  CCommandSet set;
  Served s = Serve(set, "FOO", "A:1\n.\nNEXT\n", true);
  EXPECT_EQ(s.result, ServeResult::kServed);
  EXPECT_EQ(s.written, "101 Unknown command\n.\n");
  EXPECT_EQ(s.rest, "NEXT\n") << "drained up to and including the terminator";

  s = Serve(set, "AUTOUPDATE_POSTMESSAGE", "A:1\n.\nNEXT\n", true);
  EXPECT_EQ(s.written, "") << "never answered";
  EXPECT_EQ(s.rest, "NEXT\n");

  s = Serve(set, "FOO", "A:1\n.\n", false);
  EXPECT_EQ(s.written, "");

  // Over-long lines are discarded, the rest of one never read as a line of
  // its own; the end of the data ends the drain.
  s = Serve(set, "FOO", std::string(3 * kMaxParamLine, 'x') + "\n.\nNEXT\n", true);
  EXPECT_EQ(s.rest, "NEXT\n");
  s = Serve(set, "FOO", std::string(kMaxParamLine - 1, 'x') + ".\nA:1\n.\nNEXT\n", true);
  EXPECT_EQ(s.rest, "NEXT\n");
  s = Serve(set, "FOO", "A:1\n", true);
  EXPECT_EQ(s.result, ServeResult::kTransportFailed);
  EXPECT_EQ(s.written, "101 Unknown command\n.\n");

  s = Serve(set, "", "A:1\n.\n", true);
  EXPECT_EQ(s.result, ServeResult::kServed);
  EXPECT_EQ(s.written, "");
  EXPECT_EQ(s.rest, "A:1\n.\n") << "an empty name does nothing";
}

TEST(CommandSet, UnknownNamesAreDrainedByTheBlocksStructure) {
  // A DATA payload holding what looks like a terminator and a further
  // request is skipped as bytes: one answer, and the next request is the
  // one after the block.
  const std::string payload = "x\n.\nSCAN_EMAIL\nFILE:evil\n.\n";
  const std::string block = "FILE:a\nDATA " + std::to_string(payload.size()) + "\n" + payload +
                            "LISTSTART\nDATA 3\n.\n\nLISTEND\n.\n";
  CCommandSet set;
  Served s = Serve(set, "FOO", block + "NEXT\n", true);
  EXPECT_EQ(s.result, ServeResult::kServed);
  EXPECT_EQ(s.written, "101 Unknown command\n.\n") << "answered once";
  EXPECT_EQ(s.rest, "NEXT\n");
  s = Serve(set, "AUTOUPDATE_POSTMESSAGE", block + "NEXT\n", true);
  EXPECT_EQ(s.written, "");
  EXPECT_EQ(s.rest, "NEXT\n");

  struct {
    const char* what;
    std::string request;
    std::string rest;
  } broken[] = {
      {"DATA cut short", "DATA 100\n.\nNEXT\n", ""},
      {"terminator inside a list", "LISTSTART\nA:1\n.\nNEXT\n", "NEXT\n"},
      {"nested list", "LISTSTART\nLISTSTART\nLISTEND\n.\nNEXT\n", "LISTEND\n.\nNEXT\n"},
      {"list end outside a list", "LISTEND\n.\nNEXT\n", ".\nNEXT\n"},
      {"more DATA than a block may hold", "DATA 18446744073709551615\nabc.\nNEXT\n", "abc.\nNEXT\n"},
  };
  for (const auto& b : broken) {
    s = Serve(set, "FOO", b.request, true);
    EXPECT_EQ(s.result, ServeResult::kTransportFailed) << b.what;
    EXPECT_EQ(s.rest, b.rest) << b.what << ": stops where a parse would";
  }
}

TEST(CommandSet, DrainStopsAtTheDataBound) {
  CBlockLimits limits;
  limits.dataBytes = 10;
  CMyLineBuffer line;
  auto fits = StreamOf("DATA 4\nabcdDATA 6\nefghij.\n");
  EXPECT_TRUE(DrainBlock(*fits, line, limits));
  auto over = StreamOf("DATA 4\nabcdDATA 7\nefghijk.\n");
  EXPECT_FALSE(DrainBlock(*over, line, limits));
  EXPECT_EQ(over->ReadByte(), 'e') << "the refused block's bytes are left unread";
}

TEST(CommandSet, KnownNamesInAnyCaseRunTheirOneCommand) {
  CCommandSet set;
  auto* echo = new EchoCommand("ECHO");
  ASSERT_TRUE(set.Add(echo));
  ASSERT_TRUE(set.Add(new CNopCommand()));
  EXPECT_EQ(set.Count(), 3u);
  Served s = Serve(set, "echo", "SIGID:4\n.\n", true);
  EXPECT_EQ(s.result, ServeResult::kServed);
  EXPECT_EQ(s.written.substr(0, 20), "100 1536\nR_FLAG:no\nR");
  s = Serve(set, "ECHO", "SIGID:5\n.\n", true);
  EXPECT_EQ(echo->executed, 2) << "the same object serves every request";
  EXPECT_EQ(echo->rSigid.Get(), 5u);
  EXPECT_EQ(Serve(set, "Nop", ".\n", true).written, "100 1536\n.\n");
  // A request that does not parse gets no reply.
  s = Serve(set, "ECHO", "SIGID:5\n", true);
  EXPECT_EQ(s.result, ServeResult::kTransportFailed);
  EXPECT_EQ(s.written, "");
}

TEST(CommandSet, ACommandThatChoseCode2IsNoTransportFailure) {
  // A session serves requests until the transport fails: a command whose
  // Execute returns 2 has read its request and written its whole reply, so
  // the request after it is still served.
  CCommandSet set;
  auto* failing = new EchoCommand("FAILING");
  failing->result = kReturnFailed;
  ASSERT_TRUE(set.Add(failing));
  ASSERT_TRUE(set.Add(new CNopCommand()));
  auto in = StreamOf("FAILING\nSIGID:1\n.\nNOP\n.\nNOP\n");
  CMyStreamBuf out;
  CMyLineBuffer line;
  std::vector<ServeResult> results;
  while (ReadWireLine(*in, line, kMaxParamLine) == LineResult::kLine) {
    CMyStringA name(line.Text());
    results.push_back(set.Dispatch(name, *in, out, nullptr, true));
    if (results.back() == ServeResult::kTransportFailed) break;
  }
  EXPECT_EQ(results, (std::vector<ServeResult>{ServeResult::kCommandFailed, ServeResult::kServed,
                                               ServeResult::kTransportFailed}));
  std::string written = ContentOf(out);
  EXPECT_EQ(written.substr(0, 9), "2 1537\nR_");
  EXPECT_NE(written.find(".\n100 1536\n.\n"), std::string::npos) << written;
  EXPECT_FALSE(failing->WireFailed());
  EXPECT_TRUE(set.Find("NOP")->WireFailed()) << "the last NOP had no terminator";
}

TEST(CommandSet, CloseConnectionSetsStopAndAnswers) {
  CCommandSet set;
  CCommandContext context;
  Served s = Serve(set, "CLOSE_CONNECTION", ".\n", true, &context);
  EXPECT_EQ(s.written, "100 1536\n.\n");
  EXPECT_TRUE(context.IsYes("${STOP}"));
}

TEST(CommandSet, ListingDescribesEveryCommand) {
  CCommandSet set;
  set.Add(new ScanLike());
  CMyStringA text("old");
  set.Describe(text, true, false);
  std::string listing = text.GetString();
  EXPECT_NE(listing.find("[CMD] CLOSE_CONNECTION\n\n"), std::string::npos);
  EXPECT_NE(listing.find("[CMD] SCAN_EMAIL\n\n"), std::string::npos);
  EXPECT_EQ(listing.size(), std::string("[CMD] CLOSE_CONNECTION\n\n[CMD] SCAN_EMAIL\n\n").size());
  set.Describe(text, false, true);
  std::string full = text.GetString();
  EXPECT_EQ(full.substr(0, listing.size()), listing) << "appended";
  EXPECT_NE(full.find("Return values (might be incomplete):\n800, i18n::StringId: 1326\n\n"),
            std::string::npos);
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
