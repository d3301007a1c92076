// The stand-in security service: serves the pipe with as many instances as
// clients come, runs the server side of the identity handshake and answers
// commands with the product's own server-side protocol code, as the
// scenario says. A connection registered with START_LISTENER carries the
// service's pushes instead (see servicescenario.h). One line per event goes
// to the output.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "comm/connectionhandle.h"
#include "comm/session.h"
#include "foundation/mystream.h"
#include "foundation/winhandles.h"
#include "servicescenario.h"

namespace tarvixstandin {

// The test files that stand in for threats.
extern const char kEicar[];
extern const char kGtube[];

class CStandinService {
public:
  CStandinService(const ServiceScenario& scenario, const std::string& pipeName,
                  const std::string& logPath, FILE* out);
  ~CStandinService();
  CStandinService(const CStandinService&) = delete;
  CStandinService& operator=(const CStandinService&) = delete;

  // Serves until Stop (or the scenario's lifetime); false when the pipe
  // cannot be created.
  bool Run();
  // Ends Run and every session; safe from any thread.
  void Stop();

  // One output line (a line feed is added), flushed at once.
  void Print(const char* format, ...);
  // Appends one LOG entry to the log file.
  void AppendLog(const std::string& entry);
  // Queues a push for the listener registered last that is still open, or
  // for the next one to register; safe from any thread.
  void Push(const ListenerPush& push);

  const ServiceScenario& Scenario() const { return scenario_; }
  HANDLE StopEvent() const { return stop_.Get(); }

private:
  struct Client {
    CStandinService* service;
    tarvixlib::comm::CUniqueConnection pipe;
    int number;
  };
  // A registered listener connection, as the pushes find it.
  struct ListenerSlot {
    int number;
    tarvixlib::CUniqueHandle wake;  // a push is waiting
  };
  static DWORD WINAPI ServeThread(void* client);
  static DWORD WINAPI TimelineThread(void* service);
  void Serve(tarvixlib::comm::CUniqueConnection pipe, int number);
  // Writes a reply made in memory to the client: at once, or a byte at a
  // time with the trickle fault's pause. False when the client left.
  bool SendReply(tarvixlib::CMyStream& reply, tarvixlib::CMyStream& writer,
                 const ServiceFault* trickle, int number, const char* name);
  // The registered connection until either side hangs up or the service
  // stops: writes the pushes meant for it and reports what came back.
  void ServeListener(tarvixlib::comm::CTarvixSession& session, HANDLE pipe, int number);
  // One push and its answer; false when the connection is gone.
  bool PushOne(tarvixlib::comm::CTarvixSession& session, HANDLE pipe, int number,
               const ListenerPush& push);
  // The next push for this slot, when it is the current listener.
  bool TakePush(const ListenerSlot& slot, ListenerPush& push);
  // Queues the scenario's timed pushes as they fall due.
  void RunTimeline();

  ServiceScenario scenario_;
  std::string path_;
  std::string logPath_;
  FILE* out_;
  tarvixlib::CUniqueHandle stop_;
  std::mutex lock_;
  std::vector<tarvixlib::CUniqueHandle> threads_;

  std::mutex pushLock_;  // never held while printing
  std::deque<ListenerPush> pending_;
  std::vector<ListenerSlot*> listeners_;  // registration order; the last is current
  uint64_t timelineStart_ = 0;
  tarvixlib::CUniqueHandle timeline_;
};

}  // namespace tarvixstandin
