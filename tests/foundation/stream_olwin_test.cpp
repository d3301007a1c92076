// The overlapped stream over a real named pipe pair (runs under wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/mystream.h"

namespace tarvixlib {
namespace {

struct OwnedHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~OwnedHandle() { Reset(); }
  void Reset() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
};

class PipePair : public ::testing::Test {
protected:
  void SetUp() override {
    static int serial = 0;
    std::wstring name = L"\\\\.\\pipe\\tarvix-olwin-" + std::to_wstring(GetCurrentProcessId()) +
                        L"-" + std::to_wstring(++serial);
    server_.h = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0,
                                 nullptr);
    ASSERT_NE(server_.h, INVALID_HANDLE_VALUE);
    client_.h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(client_.h, INVALID_HANDLE_VALUE);
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BOOL connected = ConnectNamedPipe(server_.h, &ov);
    DWORD error = GetLastError();
    EXPECT_TRUE(connected || error == ERROR_PIPE_CONNECTED || error == ERROR_IO_PENDING);
    if (!connected && error == ERROR_IO_PENDING) {
      DWORD n;
      EXPECT_TRUE(GetOverlappedResult(server_.h, &ov, &n, TRUE));
    }
    CloseHandle(ov.hEvent);
    cancel_.h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  OwnedHandle server_, client_, cancel_;
};

TEST_F(PipePair, CarriesDataBothWays) {
  CMyStreamOLWin server(server_.h, cancel_.h, 5000);
  CMyStreamOLWin client(client_.h, cancel_.h, 5000);
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
  CMyStreamOLWin server(server_.h, nullptr, 5000);
  CMyStreamOLWin client(client_.h, nullptr, 5000);
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
  CMyStreamOLWin client(client_.h, cancel_.h, 200);
  char buf[8];
  DWORD t0 = GetTickCount();
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  DWORD elapsed = GetTickCount() - t0;
  EXPECT_GE(elapsed, 150u);
  EXPECT_LT(elapsed, 3000u);
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_TIMEOUT));

  CMyStreamOLWin server(server_.h, cancel_.h, 200);
  EXPECT_EQ(server.Write("abc", 3), 3u);
  EXPECT_EQ(client.Read(buf, sizeof buf), 3u) << "the cancelled read took nothing";
}

TEST_F(PipePair, CancelEventEndsAPendingReadAndRefusesACompletedOne) {
  CMyStreamOLWin client(client_.h, cancel_.h, 20000);
  std::thread canceller([&] {
    Sleep(100);
    SetEvent(cancel_.h);
  });
  char buf[8];
  DWORD t0 = GetTickCount();
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  EXPECT_LT(GetTickCount() - t0, 5000u);
  canceller.join();
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));

  // Data is there, so the read completes at once; the set cancel event wins.
  CMyStreamOLWin server(server_.h, nullptr, 2000);
  EXPECT_EQ(server.Write("x", 1), 1u);
  Sleep(50);
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  EXPECT_EQ(client.Write("y", 1), 0u) << "writes are refused too";
  ResetEvent(cancel_.h);
}

// A cancel flag stands in for asking the kernel whether the cancel event is
// set, for transfers that complete at once: whoever cancels raises it first.
TEST_F(PipePair, ACancelFlagDecidesWhetherACompletedTransferAsksTheEvent) {
  std::atomic<bool> flag{false};
  CMyStreamOLWin client(client_.h, cancel_.h, 20000);
  client.SetCancelEvent(cancel_.h, &flag);
  CMyStreamOLWin server(server_.h, nullptr, 2000);
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
    if (c.eventSet) SetEvent(cancel_.h); else ResetEvent(cancel_.h);
    ASSERT_EQ(server.Write("x", 1), 1u);
    Sleep(20);  // the byte waits in the pipe: the read completes at once
    size_t got = client.Read(buf, sizeof buf);
    EXPECT_EQ(got, c.passes ? 1u : 0u);
    if (!c.passes) {
      EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
      ResetEvent(cancel_.h);  // a cancelled connection is given up; this one goes on
    }
  }
  // A pending read is woken by the event itself, flag or not.
  flag = false;
  ResetEvent(cancel_.h);
  std::thread canceller([&] {
    Sleep(100);
    flag = true;
    SetEvent(cancel_.h);
  });
  EXPECT_EQ(client.Read(buf, sizeof buf), 0u);
  canceller.join();
  EXPECT_EQ(client.LastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
  ResetEvent(cancel_.h);
}

TEST_F(PipePair, AClosedPeerEndsTheData) {
  CMyStreamOLWin client(client_.h, nullptr, 2000);
  server_.Reset();
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
