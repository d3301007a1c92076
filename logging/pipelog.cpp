#include "logging/pipelog.h"

namespace tarvixlib {

CMyPipeLog::CMyPipeLog(void* connection, PipeLogSendFunction send)
    : CMyThreadSaveLogT<CMyPipeLog>(this), connection_(connection), send_(send) {}

CMyPipeLog::~CMyPipeLog() {
  Close();
  // A send still running on another thread finishes before the log goes.
  CMySynchronizedBlock<CMyThreadSave> hold(sendLock_);
}

void CMyPipeLog::Write(uint32_t level, const char* format, va_list args) {
  if (IsClosed() || sendLock_.IsHeldByCaller()) return;
  CMySynchronizedBlock<CMyThreadSave> hold(sendLock_);
  if (!send_ || IsClosed()) return;
  commands::CLogCommand command;
  command.Buffer().LogV(level, format, args);
  lastCode_ = send_(connection_, command);
}

void CMyPipeLog::SetSendFunction(void* connection, PipeLogSendFunction send) {
  CMySynchronizedBlock<CMyThreadSave> hold(sendLock_);
  connection_ = connection;
  send_ = send;
}

}  // namespace tarvixlib
