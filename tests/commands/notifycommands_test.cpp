// The listener connection's commands: notifications are served without a
// word back, START_LISTENER knows its refusal code.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "commands/commandset.h"
#include "commands/notifycommands.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace {

using testing_::ContentOf;
using testing_::StreamOf;

struct Served {
  int32_t code;
  std::string written;
};

Served Serve(CTarvixPipeCommand& command, const std::string& request) {
  auto in = StreamOf(request);
  CMyStreamBuf out;
  int32_t code = command.Process(*in, out, nullptr);
  return {code, ContentOf(out)};
}

TEST(Notifications, StatusChangedReadsEAndAnswersNothing) {
  struct Case { const char* request; int32_t e; };
  const Case cases[] = {{"E:10\n.\n", 10}, {".\n", 0}, {"e:7\n.\n", 7}, {"E:x\n.\n", 0}};
  for (const Case& c : cases) {
    kickoff::CStatusChangedCommand command;
    Served served = Serve(command, c.request);
    EXPECT_EQ(served.code, 100) << c.request;
    EXPECT_EQ(served.written, "") << c.request;
    EXPECT_EQ(command.event.Get(), c.e) << c.request;
  }
}

TEST(Notifications, StopApplicationAnswersNothingAndClonesKeepTheType) {
  kickoff::CStopApplicationCommand stop;
  Served served = Serve(stop, ".\n");
  EXPECT_EQ(served.code, 100);
  EXPECT_EQ(served.written, "");
  std::unique_ptr<CCopyableTarvixPipeCommand> copy(stop.Clone(true));
  ASSERT_TRUE(copy);
  EXPECT_STREQ(copy->GetName(), "STOP_APPLICATION");
  EXPECT_NE(copy->GetId(), stop.GetId());

  kickoff::CStatusChangedCommand changed;
  changed.event.Set(10);
  std::unique_ptr<CCopyableTarvixPipeCommand> changedCopy(changed.Clone(false));
  auto* typed = dynamic_cast<kickoff::CStatusChangedCommand*>(changedCopy.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->event.Get(), 10);
  EXPECT_EQ(typed->GetId(), changed.GetId());
  EXPECT_EQ(Serve(*typed, "E:3\n.\n").code, 100);
  EXPECT_EQ(typed->event.Get(), 3) << "the copy reads into its own parameter";
}

TEST(Notifications, SentWithoutWaitingForAReply) {
  kickoff::CStatusChangedCommand command;
  command.event.Set(10);
  auto in = StreamOf("");
  CMyStreamBuf out;
  EXPECT_EQ(command.Send(*in, out, nullptr), 100);
  EXPECT_EQ(ContentOf(out), "STATUS_CHANGED\nE:10\n.\n");
}

TEST(Notifications, FoundInASetWhateverTheLetterCase) {
  CCommandSet set;
  set.Add(new kickoff::CStopApplicationCommand);
  EXPECT_NE(set.Find("stop_application"), nullptr);
  EXPECT_NE(set.Find("CLOSE_CONNECTION"), nullptr);
}

TEST(StartListener, RefusalHasItsOwnMessage) {
  CStartListenerCommand command;
  auto in = StreamOf("170 1355\n.\n");
  CMyStreamBuf out;
  EXPECT_EQ(command.Send(*in, out, nullptr), 170);
  EXPECT_EQ(ContentOf(out), "START_LISTENER\n.\n");
  const CReturnMessage* refused = command.FindReturnMessage(170);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->TextId(), 1355);

  CStartListenerCommand accepted;
  auto ok = StreamOf("100 1536\n.\n");
  CMyStreamBuf out2;
  EXPECT_EQ(accepted.Send(*ok, out2, nullptr), 100);
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
