// Pipe commands: one object per use, the same classes on both ends.
//
// A client fills the request parameters and calls Send; it writes
//   NAME LF, the request block, "." LF
// and reads the reply
//   "<code> <text id>" LF, the response block, "." LF.
// A server reads the name line, looks the command up and calls Process,
// which reads the request block and writes the reply. Send and Process end
// with the command's current code: 100 success, 1 CanRun refused, 2 a
// transport or protocol failure (see returnmessages.h).
//
// Parameters are members of the concrete command, registered in its
// constructor; the parameter lists do not own them.
#pragma once

#include <atomic>
#include <cstdint>

#include "commands/context.h"
#include "commands/params.h"
#include "commands/returnmessages.h"
#include "foundation/mystream.h"
#include "foundation/mystring.h"

namespace tarvixlib {
namespace commands {

// The process-wide counter behind command ids and pipe session ids. It
// starts at 1, so the first number handed out is 2.
int32_t NextCommandId();

namespace internal_ {

// The state and behaviour of every command.
class CTarvixPipeCommand {
public:
  // name must outlive the command (a constant in practice); null is "".
  explicit CTarvixPipeCommand(const char* name = "", uint32_t timeout = 0);

  // ---- operations, in slot order ----
  // The name line and the request block.
  virtual bool WriteRequest(CMyStream& writer);
  virtual bool ReadRequest(CMyStream& reader);
  // The status line (once per command) and the response block.
  virtual bool WriteResponse(CMyStream& writer);
  // The status line, then the response block.
  virtual bool ReadResponse(CMyStream& reader);
  virtual bool CanRun(CCommandContext* context);
  // The code the exchange ends with; the base keeps the current code.
  virtual int32_t Execute(CCommandContext* context);
  virtual void Finish(CCommandContext* context);
  virtual ~CTarvixPipeCommand();
  // The client's exchange; returns the final code.
  virtual int32_t Send(CMyStream& reader, CMyStream& writer, CCommandContext* context);
  // The server's handling after the name line was read; returns the final code.
  virtual int32_t Process(CMyStream& reader, CMyStream& writer, CCommandContext* context);
  // "[CMD] <name>" and, unless brief, the parameters and own return values.
  virtual void Describe(CMyStringA& text, bool brief, bool append);

  // ---- return messages ----
  // The current code becomes `code`, its text id that of FindReturnMessage
  // (0 when neither table has the code).
  void SetReturn(int32_t code);
  // Own table first, then the default table; null when neither has it.
  const CReturnMessage* FindReturnMessage(int32_t code) const;
  bool AddReturnMessage(int32_t code, int32_t textId) { return ownMessages_.Add(code, textId); }
  const CReturnMessage& GetReturnMessage() const { return current_; }
  int32_t GetReturnCode() const { return current_.Code(); }
  // The text after the code in the last status line read.
  const CMyStringA& GetReturnText() const { return returnText_; }
  const CReturnMessages& OwnReturnMessages() const { return ownMessages_; }
  const CReturnMessages& DefaultReturnMessages() const { return defaultMessages_; }

  // ---- registration, for concrete commands ----
  // Enabled parameters only; a request parameter is reset on the way in.
  void AddRequestParam(CNamedParam& param);
  void AddResponseParam(CNamedParam& param);
  // Its progress events are chained to the request list's events.
  void AddBinaryRequestParam(CBinaryParam& param);
  void AddBinaryResponseParam(CBinaryParam& param);

  const char* GetName() const { return name_; }
  int32_t GetId() const { return id_; }
  uint32_t GetTimeout() const { return timeout_; }
  int32_t GetExecutionBudget() const { return executionBudget_; }
  // Whether the last Send or Process ended with code 2 because reading,
  // writing or parsing failed (the connection is then out of step), as
  // opposed to a code the command chose itself.
  bool WireFailed() const { return wireFailed_ != 0; }
  bool IsStatusWritten() const { return statusWritten_ != 0; }
  CCommandParams& RequestParams() { return request_; }
  CCommandParams& ResponseParams() { return response_; }

protected:
  // A copy keeps name, timeout, default table and (unless newId) the id;
  // it starts with the process default message, an empty own table and
  // empty parameter lists: the concrete class registers its parameters.
  CTarvixPipeCommand(const CTarvixPipeCommand& other, bool newId);
  // The name line: the name and LF (none added when the name ends in LF).
  bool WriteNameLine(CMyStream& writer);
  // The status line "<code> <id>" LF with the id of the current code, or
  // "<code> " LF when neither table has it.
  bool WriteStatusLine(CMyStream& writer);
  // Reads a status line (at most 32 KiB, it must hold a blank): the code,
  // and the text after the first blank into returnText.
  bool ReadStatusLine(CMyStream& reader, int32_t* code);

private:
  CTarvixPipeCommand& operator=(const CTarvixPipeCommand&) = delete;

  const char* name_;
  int32_t id_;
  uint32_t timeout_;
  CMyStringA returnText_;
  CReturnMessage current_;
  CReturnMessages defaultMessages_;
  CReturnMessages ownMessages_;
  CCommandParams request_;
  CCommandParams response_;
  uint8_t statusWritten_ = 0;
  uint8_t wireFailed_ = 0;
  int32_t executionBudget_ = 0;
};

}  // namespace internal_

class CTarvixPipeCommand : public internal_::CTarvixPipeCommand {
public:
  explicit CTarvixPipeCommand(const char* name = "", uint32_t timeout = 0)
      : internal_::CTarvixPipeCommand(name, timeout) {}

protected:
  CTarvixPipeCommand(const CTarvixPipeCommand& other, bool newId)
      : internal_::CTarvixPipeCommand(other, newId) {}
};

// A command that can make a new command of its own concrete type.
class CCopyableTarvixPipeCommand : public CTarvixPipeCommand {
public:
  using CTarvixPipeCommand::CTarvixPipeCommand;
  // A fresh command of the same type; with newId it takes the next id,
  // otherwise it keeps this one's. Null when memory is short.
  virtual CCopyableTarvixPipeCommand* Clone(bool newId) const = 0;

protected:
  CCopyableTarvixPipeCommand(const CCopyableTarvixPipeCommand& other, bool newId)
      : CTarvixPipeCommand(other, newId) {}
};

// Does nothing and succeeds.
class CNopCommand : public CCopyableTarvixPipeCommand {
public:
  explicit CNopCommand(const char* name = "NOP", uint32_t timeout = 0)
      : CCopyableTarvixPipeCommand(name, timeout) {}
  int32_t Execute(CCommandContext*) override { return kReturnSuccess; }
  CCopyableTarvixPipeCommand* Clone(bool newId) const override;

protected:
  CNopCommand(const CNopCommand& other, bool newId) : CCopyableTarvixPipeCommand(other, newId) {}
};

// Remembers the handle of the pipe it last ran on (the context's pipe
// handle; the invalid file handle until it ran, or when the context has
// none).
template <typename Base>
class CPipeHandleAwareCommandT : public Base {
public:
  using Base::Base;

  int32_t Send(CMyStream& reader, CMyStream& writer, CCommandContext* context) override {
    pipeHandle_ = context ? context->PipeHandle() : platform::InvalidFileHandle();
    return Base::Send(reader, writer, context);
  }
  int32_t Process(CMyStream& reader, CMyStream& writer, CCommandContext* context) override {
    pipeHandle_ = context ? context->PipeHandle() : platform::InvalidFileHandle();
    return Base::Process(reader, writer, context);
  }
  platform::FileHandle GetPipeHandle() const { return pipeHandle_; }

private:
  platform::FileHandle pipeHandle_ = platform::InvalidFileHandle();
};

}  // namespace commands
}  // namespace tarvixlib
