// Pipe benchmarks (run under wine): the command client against raw
// overlapped named-pipe I/O on the same machine, in the same run.
//
//   round trip   a NOP over the kept connection  vs  a raw ping-pong of
//                the same request and reply bytes
//   throughput   SCAN_EMAIL with a 64 MiB attachment  vs  64 MiB written
//                raw in 32 KiB pieces (the same draining server for both)
//   steadiness   10,000 commands on one connection: handle count and
//                private bytes before and after
//
// Usage: comm_pipe_bench [round trips] [MiB]
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comm/client.h"
#include "comm/session.h"
#include "commands/commandset.h"
#include "commands/scancommands.h"
#include "commands/wire.h"

namespace {

using namespace tarvixlib;
using namespace tarvixlib::commands;

const char kRequest[] = "NOP\n.\n";
const char kReply[] = "100 1536\n.\n";

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string PipePath(const char* name) { return std::string("\\\\.\\pipe\\") + name; }

HANDLE MakeServerPipe(const char* name) {
  return CreateNamedPipeA(PipePath(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0,
                          nullptr);
}

// Overlapped transfer of exactly `length` bytes (the way the connection's
// streams do it).
bool Transfer(HANDLE h, HANDLE event, void* data, DWORD length, bool write) {
  char* p = static_cast<char*>(data);
  while (length > 0) {
    OVERLAPPED ov = {};
    ov.hEvent = event;
    DWORD done = 0;
    BOOL ok = write ? WriteFile(h, p, length, &done, &ov) : ReadFile(h, p, length, &done, &ov);
    if (!ok) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      if (!GetOverlappedResult(h, &ov, &done, TRUE)) return false;
    }
    if (done == 0) return false;
    p += done;
    length -= done;
  }
  return true;
}

// ---- raw baselines ----

struct RawServerArgs {
  HANDLE pipe;
  size_t requestBytes;  // per exchange
  int exchanges;
};

DWORD WINAPI RawServer(void* param) {
  RawServerArgs* a = static_cast<RawServerArgs*>(param);
  ConnectNamedPipe(a->pipe, nullptr);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<char> buffer(65536);
  for (int i = 0; i < a->exchanges; ++i) {
    for (size_t left = a->requestBytes; left > 0;) {
      DWORD n = static_cast<DWORD>(std::min(left, buffer.size()));
      OVERLAPPED ov = {};
      ov.hEvent = event;
      DWORD got = 0;
      if (!ReadFile(a->pipe, buffer.data(), n, &got, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(a->pipe, &ov, &got, TRUE))
          return 1;
      }
      if (got == 0) return 1;
      left -= got;
    }
    if (!Transfer(a->pipe, event, const_cast<char*>(kReply), sizeof kReply - 1, true)) return 1;
  }
  CloseHandle(event);
  return 0;
}

double RawPingPong(int rounds) {
  const char* name = "TarvixBench-raw";
  RawServerArgs args{MakeServerPipe(name), sizeof kRequest - 1, rounds};
  HANDLE server = CreateThread(nullptr, 0, RawServer, &args, 0, nullptr);
  WaitNamedPipeA(PipePath(name).c_str(), 5000);
  HANDLE h = CreateFileA(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  char reply[sizeof kReply];
  double start = Now();
  for (int i = 0; i < rounds; ++i) {
    Transfer(h, event, const_cast<char*>(kRequest), sizeof kRequest - 1, true);
    Transfer(h, event, reply, sizeof kReply - 1, false);
  }
  double spent = Now() - start;
  WaitForSingleObject(server, INFINITE);
  CloseHandle(server);
  CloseHandle(h);
  CloseHandle(event);
  CloseHandle(args.pipe);
  return spent;
}

double RawBulk(size_t bytes) {
  const char* name = "TarvixBench-rawbulk";
  RawServerArgs args{MakeServerPipe(name), bytes, 1};
  HANDLE server = CreateThread(nullptr, 0, RawServer, &args, 0, nullptr);
  WaitNamedPipeA(PipePath(name).c_str(), 5000);
  HANDLE h = CreateFileA(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<char> data(bytes, 'a');
  char reply[sizeof kReply];
  double start = Now();
  for (size_t at = 0; at < bytes; at += 32768)
    Transfer(h, event, data.data() + at, static_cast<DWORD>(std::min<size_t>(32768, bytes - at)),
             true);
  Transfer(h, event, reply, sizeof kReply - 1, false);
  double spent = Now() - start;
  WaitForSingleObject(server, INFINITE);
  CloseHandle(server);
  CloseHandle(h);
  CloseHandle(event);
  CloseHandle(args.pipe);
  return spent;
}

// ---- the product's path ----

// A service of our own protocol code: handshake, then NOP served by the
// command set; SCAN_EMAIL's DATA is drained (a real service scans it, which
// is not what is measured here).
struct ServiceArgs {
  HANDLE pipe;
};

DWORD WINAPI ProtocolServer(void* param) {
  ServiceArgs* a = static_cast<ServiceArgs*>(param);
  ConnectNamedPipe(a->pipe, nullptr);
  tarvixlib::comm::CTarvixSession session(false);
  session.Attach(a->pipe, nullptr, 0xFFFFFFFFu);
  if (session.ServerHandshake(0x1001) != 0) return 1;
  CCommandSet set;
  set.Add(new CNopCommand());
  CMyLineBuffer line;
  std::vector<char> sink(65536);
  for (;;) {
    if (ReadWireLine(session.ReadStream(), line, kMaxParamLine) != LineResult::kLine) break;
    std::string name = line.Text();
    if (name == "SCAN_EMAIL") {
      for (;;) {
        if (ReadWireLine(session.ReadStream(), line, kMaxParamLine) != LineResult::kLine) return 1;
        if (std::strncmp(line.Text(), "DATA ", 5) == 0) break;
      }
      unsigned long long left = std::strtoull(line.Text() + 5, nullptr, 10);
      while (left > 0) {
        size_t n = static_cast<size_t>(std::min<unsigned long long>(left, sink.size()));
        if (!session.ReadStream().ReadExact(sink.data(), n)) return 1;
        left -= n;
      }
      DrainBlock(session.ReadStream(), line);
      WriteText(session.WriteStream(), "100 1536\nSCANRET:OK\n", 20);
      WriteTerminator(session.WriteStream());
      continue;
    }
    if (!set.Dispatch(name.c_str(), session.ReadStream(), session.WriteStream(), &session, true))
      break;
    if (session.IsYes("${STOP}")) break;
  }
  session.Detach();
  return 0;
}

struct ProductRun {
  HANDLE server = nullptr;
  ServiceArgs args{};
  tarvixlib::commands::comm::CSimpleTarvixComm* client = nullptr;
  explicit ProductRun(const char* name) {
    args.pipe = MakeServerPipe(name);
    server = CreateThread(nullptr, 0, ProtocolServer, &args, 0, nullptr);
    client = new tarvixlib::commands::comm::CSimpleTarvixComm();
    client->Dispatcher().SetPipeName(name);
  }
  ~ProductRun() {
    delete client;  // says goodbye: the server ends
    WaitForSingleObject(server, 10000);
    CloseHandle(server);
    CloseHandle(args.pipe);
  }
};

double ProductPingPong(int rounds) {
  ProductRun run("TarvixBench-product");
  CNopCommand warm;
  run.client->SendLocal(warm, false, nullptr);
  double start = Now();
  for (int i = 0; i < rounds; ++i) {
    CNopCommand nop;
    run.client->SendLocal(nop, false, nullptr);
    if (nop.GetReturnCode() != kReturnSuccess) {
      std::printf("NOP failed with %d\n", nop.GetReturnCode());
      return -1;
    }
  }
  return Now() - start;
}

double ProductBulk(size_t bytes) {
  ProductRun run("TarvixBench-productbulk");
  CNopCommand warm;
  run.client->SendLocal(warm, false, nullptr);
  std::vector<char> data(bytes, 'a');
  tarvixservice::CScanEmailCommand scan;
  scan.file.Set("big.bin");
  scan.content.SetBytes(data.data(), data.size());  // filled before the clock starts
  double start = Now();
  run.client->SendLocal(scan, false, nullptr);
  double spent = Now() - start;
  if (scan.GetReturnCode() != kReturnSuccess) {
    std::printf("SCAN_EMAIL failed with %d\n", scan.GetReturnCode());
    return -1;
  }
  return spent;
}

void Steadiness(int commands) {
  ProductRun run("TarvixBench-steady");
  auto measure = [](DWORD* handles, SIZE_T* privateBytes) {
    GetProcessHandleCount(GetCurrentProcess(), handles);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    *privateBytes = counters.PrivateUsage;
  };
  for (int i = 0; i < 100; ++i) {  // warm up: first connection, buffers, heaps
    CNopCommand nop;
    run.client->SendLocal(nop, false, nullptr);
  }
  DWORD handlesBefore = 0, handlesAfter = 0;
  SIZE_T bytesBefore = 0, bytesAfter = 0;
  measure(&handlesBefore, &bytesBefore);
  int failed = 0;
  for (int i = 0; i < commands; ++i) {
    CNopCommand nop;
    run.client->SendLocal(nop, false, nullptr);
    if (nop.GetReturnCode() != kReturnSuccess) ++failed;
  }
  measure(&handlesAfter, &bytesAfter);
  std::printf("steadiness: %d commands, %d failed; handles %lu -> %lu; private bytes %llu -> %llu"
              " (%+lld)\n",
              commands, failed, handlesBefore, handlesAfter,
              static_cast<unsigned long long>(bytesBefore),
              static_cast<unsigned long long>(bytesAfter),
              static_cast<long long>(bytesAfter) - static_cast<long long>(bytesBefore));
}

template <typename F>
double Median(int runs, F f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(f());
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5000;
  size_t mib = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 64;
  size_t bytes = mib << 20;

  double raw = Median(5, [&] { return RawPingPong(rounds); });
  double ours = Median(5, [&] { return ProductPingPong(rounds); });
  std::printf("round trip: raw %.1f us, command %.1f us per exchange: %.2fx (goal <= 1.3x)\n",
              raw / rounds * 1e6, ours / rounds * 1e6, ours / raw);

  double rawBulk = Median(3, [&] { return RawBulk(bytes); });
  double ourBulk = Median(3, [&] { return ProductBulk(bytes); });
  std::printf("throughput: raw %.0f MiB/s, SCAN_EMAIL %.0f MiB/s: %.2fx (goal >= 0.8x)\n",
              mib / rawBulk, mib / ourBulk, rawBulk / ourBulk);

  Steadiness(10000);
  return 0;
}
