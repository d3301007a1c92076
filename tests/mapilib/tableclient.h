// A command client that answers each command by name with a canned reply
// and records the names it was asked for. Safe to use from several threads
// (the watcher and the listener send through it too).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "comm/client.h"
#include "foundation/mystream.h"

namespace mapilib {

class CTableClient : public tarvixlib::commands::comm::CTarvixPipeComm {
public:
  using CTarvixPipeCommand = tarvixlib::commands::CTarvixPipeCommand;
  using SendResult = tarvixlib::commands::comm::SendResult;
  using CConnectionFailureHandler = tarvixlib::comm::CConnectionFailureHandler;
  using HOST = tarvixlib::comm::HOST;

  // The reply to `name`: a status line, parameter lines and ".". A command
  // without one gets no reply at all.
  void Reply(const std::string& name, const std::string& reply) {
    std::lock_guard<std::mutex> hold(lock_);
    replies_[name] = reply;
  }
  std::vector<std::string> Sent() {
    std::lock_guard<std::mutex> hold(lock_);
    return sent_;
  }
  size_t SentCount(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    size_t n = 0;
    for (const std::string& s : sent_) n += s == name;
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    sent_.clear();
  }

  SendResult SendLocal(CTarvixPipeCommand& command, bool, CConnectionFailureHandler*) override {
    std::string reply;
    {
      std::lock_guard<std::mutex> hold(lock_);
      sent_.push_back(command.GetName());
      auto it = replies_.find(command.GetName());
      if (it != replies_.end()) reply = it->second;
    }
    tarvixlib::CMyStreamBuf in, out;
    in.Write(reply.data(), reply.size());
    in.Seek(0, nullptr, 0);
    command.Send(in, out, nullptr);
    return SendResult::kOk;
  }
  bool SendWatched(CTarvixPipeCommand&, const char*, const HOST*, size_t, bool,
                   CConnectionFailureHandler*) override { return false; }
  bool SendWatched(CTarvixPipeCommand&, const char*, const tarvixlib::CMyPtrList&, bool,
                   CConnectionFailureHandler*) override { return false; }
  bool SendToHosts(CTarvixPipeCommand&, const HOST*, size_t, bool,
                   CConnectionFailureHandler*) override { return false; }
  bool SendToHosts(CTarvixPipeCommand&, const tarvixlib::CMyPtrList&, bool,
                   CConnectionFailureHandler*) override { return false; }
  SendResult SendNow(CTarvixPipeCommand&, const HOST&, bool, CConnectionFailureHandler*) override {
    return SendResult::kFailed;
  }
  SendResult SendTo(CTarvixPipeCommand&, const HOST&, bool, bool,
                    CConnectionFailureHandler*) override { return SendResult::kFailed; }
  SendResult SendNow(CTarvixPipeCommand&, const char*, bool, CConnectionFailureHandler*) override {
    return SendResult::kFailed;
  }
  SendResult SendTo(CTarvixPipeCommand&, const char*, bool, bool,
                    CConnectionFailureHandler*) override { return SendResult::kFailed; }
  SendResult SendTo(CTarvixPipeCommand&, bool, bool, CConnectionFailureHandler*) override {
    return SendResult::kFailed;
  }

private:
  std::mutex lock_;
  std::map<std::string, std::string> replies_;
  std::vector<std::string> sent_;
};

}  // namespace mapilib
