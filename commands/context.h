// What a command may ask of the connection it runs on: the session
// variables (names compared without regard to letter case) and two facts of
// the connection, its I/O time limit and its pipe handle. Sessions derive
// from this class and report their own connection; an in-memory exchange
// uses it as it is.
#pragma once

#include <cstdint>

#include "foundation/hashtable.h"
#include "foundation/mystring.h"
#include "foundation/platform.h"

namespace tarvixlib {
namespace commands {

class CCommandContext {
public:
  CCommandContext();
  virtual ~CCommandContext();
  CCommandContext(const CCommandContext&) = delete;
  CCommandContext& operator=(const CCommandContext&) = delete;

  // Blanks and tabs are trimmed from both ends of name and value.
  virtual bool SetVariable(const char* name, const char* value);
  void SetVariable(const char* name, bool yes) { SetVariable(name, yes ? "yes" : "no"); }
  // The value, or null when the name is not set.
  virtual const char* GetVariable(const char* name) const;
  // Whether the value is "yes" (any letter case); a missing name counts as
  // defaultYes.
  bool IsYes(const char* name, bool defaultYes = false) const;
  virtual void ClearVariables();

  // Milliseconds; 0 when the connection has no limit.
  virtual uint32_t IoTimeLimit() const { return ioTimeLimit_; }
  // The handle of the pipe the command runs on (never owned here), the
  // invalid file handle when none.
  virtual platform::FileHandle PipeHandle() const { return pipeHandle_; }
  void SetIoTimeLimit(uint32_t ms) { ioTimeLimit_ = ms; }
  void SetPipeHandle(platform::FileHandle handle) { pipeHandle_ = handle; }

private:
  CMyObjectHashTableT<const char*, CMyStringA> variables_;
  uint32_t ioTimeLimit_ = 0;
  platform::FileHandle pipeHandle_ = platform::InvalidFileHandle();
};

}  // namespace commands
}  // namespace tarvixlib
