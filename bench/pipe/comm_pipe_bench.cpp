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
// Usage: comm_pipe_bench [round trips] [MiB]   (MiB 0: the round trip only)
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
#include "comm/protocol.h"
#include "comm/session.h"
#include "commands/commandset.h"
#include "commands/scancommands.h"
#include "commands/wire.h"
#include "foundation/byteorder.h"
#include "foundation/winhandles.h"

namespace {

using namespace tarvixlib;
using namespace tarvixlib::commands;
using tarvixlib::comm::PipePath;

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

std::string LocalPipe(const char* name) {
  return PipePath(tarvixlib::comm::kLocalHost, name).GetString();
}

HANDLE MakeServerPipe(const char* name) {
  return CreateNamedPipeA(LocalPipe(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0,
                          nullptr);
}

// The client end of a benchmark pipe, opened as the connection opens it.
HANDLE OpenClientEnd(const char* name) {
  WaitNamedPipeA(LocalPipe(name).c_str(), 5000);
  return CreateFileA(LocalPipe(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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
      if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0 ||
          !GetOverlappedResult(h, &ov, &done, FALSE))
        return false;
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
  bool handshake;       // the identity handshake first (for the command client)
};

// The one server of every measurement: it reads the request bytes and
// writes the reply with plain overlapped calls, so both sides of a
// comparison talk to the same peer.
DWORD WINAPI RawServer(void* param) {
  RawServerArgs* a = static_cast<RawServerArgs*>(param);
  ConnectNamedPipe(a->pipe, nullptr);
  CUniqueHandle owned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE event = owned.Get();
  if (a->handshake) {
    // Exact reads only: nothing of the first request may be swallowed.
    uint8_t hello[8 + tarvixlib::comm::kIdentityRecordSize];
    tarvixlib::comm::ConnectParams own;
    own.appType = tarvixlib::comm::kServiceType;
    tarvixlib::comm::IdentityRecord record;
    tarvixlib::comm::BuildOwnIdentityRecord(own, record);
    StoreLe32(hello, tarvixlib::comm::kHandshakeVersion);
    StoreLe32(hello + 4, tarvixlib::comm::kIdentityWireLength);
    std::memcpy(hello + 8, record.bytes, sizeof record.bytes);
    if (!Transfer(a->pipe, event, hello, sizeof hello, true)) return 1;
    if (!Transfer(a->pipe, event, hello, sizeof hello, false)) return 1;
  }
  std::vector<char> buffer(65536);
  for (int i = 0; i < a->exchanges; ++i) {
    for (size_t left = a->requestBytes; left > 0;) {
      DWORD n = static_cast<DWORD>(std::min(left, buffer.size()));
      OVERLAPPED ov = {};
      ov.hEvent = event;
      DWORD got = 0;
      if (!ReadFile(a->pipe, buffer.data(), n, &got, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING || WaitForSingleObject(event, INFINITE) != 0 ||
            !GetOverlappedResult(a->pipe, &ov, &got, FALSE))
          return 1;
      }
      if (got == 0) return 1;
      left -= got;
    }
    if (!Transfer(a->pipe, event, const_cast<char*>(kReply), sizeof kReply - 1, true)) return 1;
  }
  // Until the client hangs up: a goodbye (the command client's
  // CLOSE_CONNECTION) is answered like any request.
  for (;;) {
    OVERLAPPED ov = {};
    ov.hEvent = event;
    DWORD got = 0;
    if (!ReadFile(a->pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING || WaitForSingleObject(event, INFINITE) != 0 ||
          !GetOverlappedResult(a->pipe, &ov, &got, FALSE))
        break;
    }
    if (got == 0) break;
    if (got >= 2 && buffer[got - 2] == '.' && buffer[got - 1] == '\n')
      Transfer(a->pipe, event, const_cast<char*>(kReply), sizeof kReply - 1, true);
  }
  DisconnectNamedPipe(a->pipe);
  return 0;
}

// The raw server on a thread of its own, with the pipe it serves.
struct RawServerRun {
  RawServerArgs args;
  CUniqueHandle pipe;
  CUniqueHandle thread;
  RawServerRun(const char* name, size_t requestBytes, int exchanges, bool handshake)
      : pipe(MakeServerPipe(name)) {
    args = RawServerArgs{pipe.Get(), requestBytes, exchanges, handshake};
    thread.Reset(CreateThread(nullptr, 0, RawServer, &args, 0, nullptr));
  }
  ~RawServerRun() { WaitForSingleObject(thread.Get(), 30000); }
};

double RawPingPong(int rounds) {
  const char* name = "TarvixBench-raw";
  RawServerRun server(name, sizeof kRequest - 1, rounds, false);
  CUniqueHandle h(OpenClientEnd(name));
  CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  char reply[sizeof kReply];
  double start = Now();
  for (int i = 0; i < rounds; ++i) {
    Transfer(h.Get(), event.Get(), const_cast<char*>(kRequest), sizeof kRequest - 1, true);
    Transfer(h.Get(), event.Get(), reply, sizeof kReply - 1, false);
  }
  double spent = Now() - start;
  h.Reset();  // the server sees the end
  return spent;
}

double RawBulk(size_t bytes) {
  const char* name = "TarvixBench-rawbulk";
  RawServerRun server(name, bytes, 1, false);
  CUniqueHandle h(OpenClientEnd(name));
  CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<char> data(bytes, 'a');
  char reply[sizeof kReply];
  double start = Now();
  for (size_t at = 0; at < bytes; at += 32768)
    Transfer(h.Get(), event.Get(), data.data() + at,
             static_cast<DWORD>(std::min<size_t>(32768, bytes - at)), true);
  Transfer(h.Get(), event.Get(), reply, sizeof kReply - 1, false);
  double spent = Now() - start;
  h.Reset();
  return spent;
}

// ---- the product's path ----

// The command client against the same raw server (after the handshake).
struct ProductRun {
  RawServerRun server;
  tarvixlib::commands::comm::CSimpleTarvixComm* client = nullptr;
  ProductRun(const char* name, size_t requestBytes, int exchanges)
      : server(name, requestBytes, exchanges, true) {
    client = new tarvixlib::commands::comm::CSimpleTarvixComm();
    client->Dispatcher().SetPipeName(name);
  }
  ~ProductRun() {
    delete client;  // says goodbye and hangs up; the server then ends
  }
};

double ProductPingPong(int rounds) {
  ProductRun run("TarvixBench-product", sizeof kRequest - 1, rounds + 1);
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
  char head[128];
  int headLength = std::snprintf(head, sizeof head,
                                 "SCAN_EMAIL\nFILE:big.bin\nFROM:\nSUBJECT:\nDATA %llu\n",
                                 static_cast<unsigned long long>(bytes));
  ProductRun run("TarvixBench-productbulk", static_cast<size_t>(headLength) + bytes + 2, 1);
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

// Handles: the value a new handle gets (the lowest free slot, so it grows
// only when handles leak). Memory: bytes in use on every heap of the process.
void Measure(uintptr_t* handleValue, unsigned long long* heapBytes) {
  {
    CUniqueHandle probe(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    *handleValue = reinterpret_cast<uintptr_t>(probe.Get());
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0)
    *handleValue = handles;  // the real count where the system gives one
  unsigned long long total = 0;
  HANDLE heaps[64];
  DWORD n = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < n && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  *heapBytes = total;
}

void Steadiness(int commands) {
  const int warmUp = 100;
  ProductRun run("TarvixBench-steady", sizeof kRequest - 1, warmUp + commands);
  for (int i = 0; i < warmUp; ++i) {  // the connection, buffers, heaps
    CNopCommand nop;
    run.client->SendLocal(nop, false, nullptr);
  }
  uintptr_t handlesBefore = 0, handlesAfter = 0;
  unsigned long long bytesBefore = 0, bytesAfter = 0;
  Measure(&handlesBefore, &bytesBefore);
  int failed = 0;
  for (int i = 0; i < commands; ++i) {
    CNopCommand nop;
    run.client->SendLocal(nop, false, nullptr);
    if (nop.GetReturnCode() != kReturnSuccess) ++failed;
  }
  Measure(&handlesAfter, &bytesAfter);
  std::printf("steadiness: %d commands, %d failed; handle probe %llu -> %llu;"
              " heap bytes in use %llu -> %llu (%+lld)\n",
              commands, failed, static_cast<unsigned long long>(handlesBefore),
              static_cast<unsigned long long>(handlesAfter), bytesBefore, bytesAfter,
              static_cast<long long>(bytesAfter) - static_cast<long long>(bytesBefore));
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  size_t mib = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 64;
  size_t bytes = mib << 20;

  // Baseline and product alternate, so that a busy machine weighs on both.
  std::vector<double> raw, ours, rawBulk, ourBulk;
  for (int i = 0; i < 5; ++i) {
    raw.push_back(RawPingPong(rounds));
    ours.push_back(ProductPingPong(rounds));
  }
  for (int i = 0; i < 3 && bytes; ++i) {
    rawBulk.push_back(RawBulk(bytes));
    ourBulk.push_back(ProductBulk(bytes));
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  double r = median(raw), o = median(ours);
  std::printf("round trip: raw %.1f us, command %.1f us per exchange: %.2fx (goal <= 1.3x)\n",
              r / rounds * 1e6, o / rounds * 1e6, o / r);
  if (!bytes) return 0;
  double rb = median(rawBulk), ob = median(ourBulk);
  std::printf("throughput: raw %.0f MiB/s, SCAN_EMAIL %.0f MiB/s: %.2fx (goal >= 0.8x)\n",
              mib / rb, mib / ob, rb / ob);
  Steadiness(10000);
  return 0;
}
