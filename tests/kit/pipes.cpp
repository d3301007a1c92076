#include "kit/pipes.h"

#include "comm/protocol.h"
#include "kit/names.h"

namespace testkit {

namespace {

HANDLE MakeInstance(const std::string& path, DWORD maxInstances) {
  return CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, maxInstances, 65536,
                          65536, 0, nullptr);
}

// Waits for a client on an overlapped instance until one comes or `stop`
// is raised (polled every 50 ms; null: without end).
bool AwaitClient(HANDLE pipe, const std::atomic<bool>* stop) {
  tarvixlib::CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov = {};
  ov.hEvent = event.Get();
  if (ConnectNamedPipe(pipe, &ov)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) return true;
  if (error != ERROR_IO_PENDING) return false;
  while (WaitForSingleObject(event.Get(), 50) == WAIT_TIMEOUT) {
    if (stop && *stop) {
      CancelIo(pipe);
      DWORD n;
      GetOverlappedResult(pipe, &ov, &n, TRUE);
      return false;
    }
  }
  DWORD n;
  return GetOverlappedResult(pipe, &ov, &n, FALSE) != 0;
}

}  // namespace

bool CPipePair::Open(const std::string& what) {
  std::string path =
      tarvixlib::comm::PipePath(tarvixlib::comm::kLocalHost, UniquePipeName(what).c_str())
          .GetString();
  server_.Reset(MakeInstance(path, 1));
  if (!server_) return false;
  client_.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
  return client_ && AwaitClient(server_.Get(), nullptr);
}

CPipeServer::CPipeServer(const std::string& path, int instances, Serve serve)
    : path_(path), serve_(std::move(serve)) {
  HANDLE first = NewInstance();
  thread_ = std::thread([this, first, instances] { Run(first, instances); });
}

CPipeServer::~CPipeServer() {
  stop_ = true;
  thread_.join();
}

HANDLE CPipeServer::NewInstance() { return MakeInstance(path_, PIPE_UNLIMITED_INSTANCES); }

void CPipeServer::Run(HANDLE first, int instances) {
  tarvixlib::CUniqueHandle pipe(first);
  for (int i = 0; i < instances && !stop_; ++i) {
    if (i > 0) pipe.Reset(NewInstance());
    if (!pipe) break;
    if (AwaitClient(pipe.Get(), &stop_)) {
      ++served_;
      serve_(pipe.Get());
    }
    CancelIo(pipe.Get());
    DisconnectNamedPipe(pipe.Get());
  }
}

}  // namespace testkit
