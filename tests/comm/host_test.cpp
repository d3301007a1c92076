// Forced logons against a scripted network, and the reachability rule.
#include "comm/host.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace tarvixlib {
namespace comm {
namespace {

// Answers each call from a script and records what it was asked.
class FakeNetwork : public INetworkLogon {
public:
  std::deque<uint32_t> addResults;
  std::deque<uint32_t> cancelResults;
  bool shareListsFiles = false;
  std::vector<std::string> calls;

  uint32_t AddConnection(const char* remote, const char* user, const char* password) override {
    calls.push_back(std::string("add ") + remote + " " + (user ? user : "<none>") + " " +
                    (password ? password : "<none>"));
    return Next(addResults);
  }
  uint32_t CancelConnection(const char* remote) override {
    calls.push_back(std::string("cancel ") + remote);
    return Next(cancelResults);
  }
  bool ListsAnyFile(const char* pattern) override {
    calls.push_back(std::string("list ") + pattern);
    return shareListsFiles;
  }

private:
  static uint32_t Next(std::deque<uint32_t>& q) {
    if (q.empty()) return 5;  // access denied
    uint32_t v = q.front();
    q.pop_front();
    return v;
  }
};

TEST(ForcedLogon, UserNameRule) {
  struct Case {
    const char* user;
    const char* expected;
  } cases[] = {{"admin", "srv\\admin"}, {"DOMAIN\\admin", "DOMAIN\\admin"},
               {"admin@corp.test", "admin@corp.test"}, {"", ""}};
  for (const Case& c : cases)
    EXPECT_STREQ(CForcedLogons::LogonUserName("srv", c.user).GetString(), c.expected) << c.user;
}

TEST(ForcedLogon, OutcomesTable) {
  struct Case {
    const char* what;
    HOST host;
    std::deque<uint32_t> add, cancel;
    bool share;
    bool result;
    std::vector<std::string> calls;
  } cases[] = {
      {"empty host", HOST("", "u", "p"), {}, {}, false, false, {}},
      {"success", HOST("srv", "u", "p"), {0}, {}, false, true, {"add \\\\srv srv\\u p"}},
      {"no credentials", HOST("srv"), {0}, {}, false, true, {"add \\\\srv <none> <none>"}},
      {"already assigned", HOST("srv", "d\\u", "p"), {85}, {}, false, true, {"add \\\\srv d\\u p"}},
      {"other error", HOST("srv", "u", "p"), {1326}, {}, true, false, {"add \\\\srv srv\\u p"}},
      {"conflict, cancelled, then fine",
       HOST("srv", "u", "p"), {1219, 0}, {0}, false, true,
       {"add \\\\srv srv\\u p", "cancel \\\\srv", "add \\\\srv srv\\u p"}},
      {"conflict, not connected counts as cancelled",
       HOST("srv", "u", "p"), {1219, 0}, {2250}, false, true,
       {"add \\\\srv srv\\u p", "cancel \\\\srv", "add \\\\srv srv\\u p"}},
      {"conflict, cancel fails, share lists files",
       HOST("srv", "u", "p"), {1219}, {5}, true, true,
       {"add \\\\srv srv\\u p", "cancel \\\\srv", "list \\\\srv\\C$\\*"}},
      {"conflict, cancel fails, share empty",
       HOST("srv", "u", "p"), {1219}, {5}, false, false,
       {"add \\\\srv srv\\u p", "cancel \\\\srv", "list \\\\srv\\C$\\*"}},
      {"conflict twice is not retried for ever",
       HOST("srv", "u", "p"), {1219, 1219, 1219}, {0, 0, 0}, false, false,
       {"add \\\\srv srv\\u p", "cancel \\\\srv", "add \\\\srv srv\\u p", "cancel \\\\srv",
        "list \\\\srv\\C$\\*"}},
  };
  for (Case& c : cases) {
    CForcedLogons logons;
    FakeNetwork network;
    network.addResults = c.add;
    network.cancelResults = c.cancel;
    network.shareListsFiles = c.share;
    EXPECT_EQ(logons.ForceConnection(c.host, network), c.result) << c.what;
    EXPECT_EQ(network.calls, c.calls) << c.what;
    EXPECT_EQ(logons.IsEstablished("\\\\SRV"), c.result) << c.what << ": the table records successes";
  }
}

TEST(FailureHandler, LocalHostIsAlwaysReachable) {
  CConnectionFailureHandler& handler = FailureHandler();
  EXPECT_EQ(&handler, &FailureHandler());
  EXPECT_TRUE(handler.IsReachable(HOST(".")));
  EXPECT_FALSE(handler.IsReachable(HOST("")));
  EXPECT_FALSE(handler.IsReachable(HOST("no-such-host.invalid")));
  CConnectionFailureHandler* clone = handler.Clone();
  EXPECT_TRUE(clone->IsReachable(HOST(".")));
  delete clone;
}

}  // namespace
}  // namespace comm
}  // namespace tarvixlib
