// The overlapped stream over a real named pipe pair (runs under wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/mystream.h"
#include "foundation/winhandles.h"
#include "kit/pipes.h"

namespace tarvixlib {
namespace {

class PipePair : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pipes_.Open("olwin"));
    cancel_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  HANDLE ServerEnd() const { return pipes_.Server(); }
  HANDLE ClientEnd() const { return pipes_.Client(); }
  HANDLE CancelEvent() const { return cancel_.Get(); }
  testkit::CPipePair pipes_;
  CUniqueHandle cancel_;
};

TEST_F(PipePair, CarriesDataBothWays) {
  CMyStreamOLWin server(ServerEnd(), CancelEvent(), 5000);
  CMyStreamOLWin client(ClientEnd(), CancelEvent(), 5000);
  EXPECT_EQ(server.Write("hello", 5), 5u);
  char buf[16] = {};
  EXPECT_TRUE(client.ReadExact(buf, 5));
  EXPECT_STREQ(buf, "hello");

  // More than the pipe holds, written while the other side reads.
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
  size_t written = 0;
  std::thread writer([&] { written = client.Write(big.data(), big.size()); });
  std::string got(big.size(), '\0');
  EXPECT_TRUE(server.ReadExact(&got[0], got.size()));
  writer.join();
  EXPECT_EQ(written, big.size());
  EXPECT_TRUE(got == big);

  int64_t pos = -1;
  EXPECT_TRUE(server.Seek(100, &pos, 0));
  EXPECT_EQ(pos, 0);
  EXPECT_FALSE(server.Truncate());
}

TEST_F(PipePair, BufferedLinesOverThePipe) {
  CMyStreamOLWin server(ServerEnd(), nullptr, 5000);
  CMyStreamOLWin client(ClientEnd(), nullptr, 5000);
  ASSERT_TRUE(server.SetBuffering(CMyStream::kReadBuffer | CMyStream::kWriteBuffer, 2048, 2048));
  ASSERT_TRUE(client.SetBuffering(CMyStream::kReadBuffer | CMyStream::kWriteBuffer, 2048, 2048));
  EXPECT_EQ(FormatToStream(client, "LINE %d\r\nNEXT\r\n", 1), 14u);
  EXPECT_EQ(client.FlushWriteBuffer(), 1);
  char line[64];
  EXPECT_EQ(server.ReadLine(line, true, sizeof line), 6);
  EXPECT_STREQ(line, "LINE 1");
  // The reply goes out while unread input is still buffered.
  EXPECT_EQ(server.WriteBuffered("OK\n", 3), 3u);
  EXPECT_EQ(server.FlushWriteBuffer(), 1);
  EXPECT_EQ(server.ReadLine(line, true, sizeof line), 4);
  EXPECT_STREQ(line, "NEXT");
  EXPECT_EQ(client.ReadLine(line, true, sizeof line), 2);
  EXPECT_STREQ(line, "OK");
}

TEST_F(PipePair, ReadTimesOutAndThePipeStaysUsable) {
  CMyStreamOLWin client(ClientEnd(), CancelEvent(), 200);
  char buf[8];
  DWORD t0 = GetTickCount();
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  DWORD elapsed = GetTickCount() - t0;
  EXPECT_GE(elapsed, 150u);
  EXPECT_LT(elapsed, 3000u);
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_TIMEOUT));

  CMyStreamOLWin server(ServerEnd(), CancelEvent(), 200);
  EXPECT_EQ(server.Write("abc", 3), 3u);
  EXPECT_EQ(client.Read(buf, sizeof buf), 3u) << "the cancelled read took nothing";
}

TEST_F(PipePair, CancelEventEndsAPendingReadAndRefusesACompletedOne) {
  CMyStreamOLWin client(ClientEnd(), CancelEvent(), 20000);
  std::thread canceller([&] {
    Sleep(100);
    SetEvent(CancelEvent());
  });
  char buf[8];
  DWORD t0 = GetTickCount();
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  EXPECT_LT(GetTickCount() - t0, 5000u);
  canceller.join();
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));

  // Data is there, so the read completes at once; the set cancel event wins.
  CMyStreamOLWin server(ServerEnd(), nullptr, 2000);
  EXPECT_EQ(server.Write("x", 1), 1u);
  Sleep(50);
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  EXPECT_EQ(client.Write("y", 1), 0u) << "writes are refused too";
  ResetEvent(CancelEvent());
}

// A cancel flag stands in for asking the kernel whether the cancel event is
// set, for transfers that complete at once: whoever cancels raises it first.
TEST_F(PipePair, ACancelFlagDecidesWhetherACompletedTransferAsksTheEvent) {
  std::atomic<bool> flag{false};
  CMyStreamOLWin client(ClientEnd(), CancelEvent(), 20000);
  client.SetCancelEvent(CancelEvent(), &flag);
  CMyStreamOLWin server(ServerEnd(), nullptr, 2000);
  char buf[8];
  struct {
    bool raised, eventSet;
    bool passes;
  } cases[] = {
      {false, false, true},
      {true, false, true},   // raised, but the event is not set (yet): no cancel
      {true, true, false},   // a real cancel
      {false, true, true},   // lowered: the event is not consulted at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.raised) + std::to_string(c.eventSet));
    flag = c.raised;
    if (c.eventSet)
      SetEvent(CancelEvent());
    else
      ResetEvent(CancelEvent());
    ASSERT_EQ(server.Write("x", 1), 1u);
    Sleep(20);  // the byte waits in the pipe: the read completes at once
    size_t got = client.Read(buf, sizeof buf);
    EXPECT_EQ(got, c.passes ? 1u : 0u);
    if (!c.passes) {
      EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
      ResetEvent(CancelEvent());  // a cancelled connection is given up; this one goes on
    }
  }
  // A pending read is woken by the event itself, flag or not.
  flag = false;
  ResetEvent(CancelEvent());
  std::thread canceller([&] {
    Sleep(100);
    flag = true;
    SetEvent(CancelEvent());
  });
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  canceller.join();
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
  ResetEvent(CancelEvent());
}

TEST_F(PipePair, AClosedPeerEndsTheData) {
  CMyStreamOLWin client(ClientEnd(), nullptr, 2000);
  pipes_.CloseServer();
  char buf[4];
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_BROKEN_PIPE));
  EXPECT_EQ(client.Write("z", 1), 0u);
  CMyStreamOLWin closed(INVALID_HANDLE_VALUE, nullptr, 10);
  EXPECT_FALSE(closed.IsOpen());
  EXPECT_EQ(closed.Read(buf, 1), 0u);
}

}  // namespace
}  // namespace tarvixlib
