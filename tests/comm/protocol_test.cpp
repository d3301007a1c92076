// The protocol's one pipe path builder.
#include "comm/protocol.h"

#include <gtest/gtest.h>

namespace tarvixlib {
namespace comm {
namespace {

TEST(Protocol, PipePath) {
  struct {
    const char* host;
    const char* name;
    const char* path;
  } cases[] = {
      {nullptr, nullptr, "\\\\.\\pipe\\TarvixPipe"},
      {"", "", "\\\\.\\pipe\\TarvixPipe"},
      {".", "TarvixPipe", "\\\\.\\pipe\\TarvixPipe"},
      {"host", "Other", "\\\\host\\pipe\\Other"},
      {"mail.example.test", "", "\\\\mail.example.test\\pipe\\TarvixPipe"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(PipePath(c.host, c.name).GetString(), c.path)
        << (c.host ? c.host : "(null)") << " " << (c.name ? c.name : "(null)");
}

}  // namespace
}  // namespace comm
}  // namespace tarvixlib
