// The pipe log: every entry that passes its filter goes to the service as a
// "LOG" command, one at a time.
//
// The log does not know how to reach the service: it is given a send
// function and the connection object to pass to it. The function sends the
// command, returns its code when the exchange is over, and must not keep
// the command. Until a function is set, entries are dropped.
#pragma once

#include <cstdint>

#include "logging/logcommand.h"
#include "logging/mylog.h"

namespace tarvixlib {

namespace commands {
class CTarvixPipeCommand;
}

using PipeLogSendFunction = int32_t (*)(void* connection, commands::CTarvixPipeCommand& command);

class CMyPipeLog : public CMyThreadSaveLogT<CMyPipeLog> {
public:
  explicit CMyPipeLog(void* connection = nullptr, PipeLogSendFunction send = nullptr);
  ~CMyPipeLog() override;

  // Under the send lock: a new LOG command whose buffer takes the entry
  // (a new buffer drops dbg, so a dbg entry goes out as a LOG without
  // entries), handed to the send function, destroyed afterwards. An entry
  // written by the send function itself on the same thread (the transport
  // logging about this very send) is dropped instead of sent recursively.
  void Write(uint32_t level, const char* format, va_list args) override;

  // Waits for a send in progress.
  void SetSendFunction(void* connection, PipeLogSendFunction send);
  void* Connection() const { return connection_; }
  // The code of the last send (3 until something was sent).
  int32_t LastCode() const { return lastCode_; }

private:
  CMyThreadSave sendLock_;
  void* connection_;
  PipeLogSendFunction send_;
  int32_t lastCode_ = commands::kReturnInitial;
};

}  // namespace tarvixlib
