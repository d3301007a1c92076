// The owner template with a recording close policy: every value is closed
// exactly once, whoever ends up holding it.
#include "foundation/owner.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvixlib {
namespace {

std::vector<int> g_closed;

// -1 and 0 are both empty, as null and INVALID_HANDLE_VALUE are for handles.
struct RecordingTraits {
  using Type = int;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type v) noexcept { return v != 0 && v != -1; }
  static void Close(Type v) noexcept { g_closed.push_back(v); }
};
using COwner = CUniqueOwner<RecordingTraits>;

class OwnerTest : public ::testing::Test {
protected:
  void SetUp() override { g_closed.clear(); }
};

TEST_F(OwnerTest, ClosesOnceAtScopeEnd) {
  { COwner owner(7); EXPECT_TRUE(owner); EXPECT_EQ(owner.Get(), 7); }
  EXPECT_EQ(g_closed, std::vector<int>({7}));
}

TEST_F(OwnerTest, EmptyValuesAreNeverClosed) {
  { COwner a; COwner b(-1); COwner c(0); EXPECT_FALSE(a); EXPECT_FALSE(b); EXPECT_FALSE(c); }
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(OwnerTest, MoveTransfersWithoutClosing) {
  COwner a(3);
  COwner b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.Get(), 3);
  EXPECT_TRUE(g_closed.empty());
  COwner c(4);
  c = std::move(b);  // c's old value goes, b's value moves
  EXPECT_EQ(g_closed, std::vector<int>({4}));
  EXPECT_EQ(c.Get(), 3);
  c = std::move(c);  // self-move keeps the value
  EXPECT_EQ(c.Get(), 3);
  c.Reset();
  EXPECT_EQ(g_closed, std::vector<int>({4, 3}));
}

TEST_F(OwnerTest, ReleaseHandsOutWithoutClosing) {
  int taken;
  { COwner owner(9); taken = owner.Release(); EXPECT_FALSE(owner); }
  EXPECT_EQ(taken, 9);
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(OwnerTest, ResetAndOutCloseTheOldValueFirst) {
  COwner owner(1);
  owner.Reset(2);
  EXPECT_EQ(g_closed, std::vector<int>({1}));
  *owner.Out() = 5;  // an API writing into the slot
  EXPECT_EQ(g_closed, std::vector<int>({1, 2}));
  EXPECT_EQ(owner.Get(), 5);
}

TEST(OsOwnerTest, EventAndFileOwnersClose) {
  CUniqueOsHandle event(platform::CreateEventObject(true, false));
  ASSERT_TRUE(event);
  EXPECT_TRUE(platform::SetEventObject(event.Get()));
  EXPECT_TRUE(platform::WaitForOne(event.Get(), 0));
  CUniqueFile file;
  EXPECT_FALSE(file);
  EXPECT_EQ(file.Get(), platform::InvalidFileHandle());
}

}  // namespace
}  // namespace tarvixlib
