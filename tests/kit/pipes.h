// Named pipes for tests: a connected pair of overlapped ends in this
// process, and a server that hands each connecting client to a function on
// a thread of its own.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "foundation/winhandles.h"

namespace testkit {

// Both ends of a fresh pipe of one instance, connected, opened for
// overlapped I/O (as the product's streams use them).
class CPipePair {
public:
  // `what` goes into the pipe's name. False when the pair cannot be made.
  bool Open(const std::string& what);
  HANDLE Server() const { return server_.Get(); }
  HANDLE Client() const { return client_.Get(); }
  // One end goes away (the other then sees a broken pipe).
  void CloseServer() { server_.Reset(); }
  void CloseClient() { client_.Reset(); }
  // Hands an end to an owner of its own.
  [[nodiscard]] HANDLE ReleaseServer() { return server_.Release(); }
  [[nodiscard]] HANDLE ReleaseClient() { return client_.Release(); }

private:
  tarvixlib::CUniqueHandle server_;
  tarvixlib::CUniqueHandle client_;
};

// Serves up to `instances` clients of one pipe, one after the other: each
// connected instance is handed to `serve`, then disconnected and closed.
// The first instance exists when the constructor returns.
class CPipeServer {
public:
  using Serve = std::function<void(HANDLE)>;
  CPipeServer(const std::string& path, int instances, Serve serve);
  // Stops waiting for clients; a client being served is served to the end.
  ~CPipeServer();
  CPipeServer(const CPipeServer&) = delete;
  CPipeServer& operator=(const CPipeServer&) = delete;
  int Served() const { return served_; }

private:
  HANDLE NewInstance();
  void Run(HANDLE first, int instances);

  std::string path_;
  Serve serve_;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::thread thread_;
};

}  // namespace testkit
