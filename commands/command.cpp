#include "commands/command.h"

#include <cstring>
#include <new>

#include "foundation/myprintf.h"

namespace tarvixlib {
namespace commands {

namespace {

std::atomic<int32_t> g_counter{1};

// strtol-like in base 10: leading blanks, an optional sign, then digits up
// to the first non-digit; clamped to 32 bits.
int32_t LeadingNumber(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    v = v * 10 + (*text - '0');
    if (v > 0x80000000LL) v = 0x80000000LL;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t NextCommandId() { return g_counter.fetch_add(1) + 1; }

namespace internal_ {

CTarvixPipeCommand::CTarvixPipeCommand(const char* name, uint32_t timeout)
    : name_(name ? name : ""),
      id_(NextCommandId()),
      timeout_(timeout),
      current_(ProcessDefaultReturnMessage()),
      defaultMessages_(CDefaultReturnMessages::Instance()) {}

CTarvixPipeCommand::CTarvixPipeCommand(const CTarvixPipeCommand& other, bool newId)
    : name_(other.name_),
      id_(newId ? NextCommandId() : other.id_),
      timeout_(other.timeout_),
      current_(ProcessDefaultReturnMessage()),
      defaultMessages_(other.defaultMessages_) {}

CTarvixPipeCommand::~CTarvixPipeCommand() = default;

// ---- the wire ----

bool CTarvixPipeCommand::WriteNameLine(CMyStream& writer) {
  size_t length = std::strlen(name_);
  // A name that already ends in its line feed keeps it; every other CR or
  // LF in it would start a line of its own and becomes a blank.
  if (length && name_[length - 1] == '\n') {
    --length;
    if (length && name_[length - 1] == '\r') --length;
  }
  return WriteLineText(writer, name_, length) && writer.PutChar('\n');
}

bool CTarvixPipeCommand::WriteStatusLine(CMyStream& writer) {
  char line[32];
  const CReturnMessage* message = FindReturnMessage(current_.Code());
  int n = message ? FormatToBuffer(line, sizeof line, "%d %u\n", current_.Code(),
                                   static_cast<unsigned>(message->TextId()))
                  : FormatToBuffer(line, sizeof line, "%d \n", current_.Code());
  return WriteText(writer, line, static_cast<size_t>(n));
}

bool CTarvixPipeCommand::ReadStatusLine(CMyStream& reader, int32_t* code) {
  *code = 0;
  returnText_.Empty();
  CMyLineBuffer& line = response_.LineBuffer();
  if (ReadWireLine(reader, line, kMaxStatusLine) != LineResult::kLine) return false;
  const char* blank = std::strchr(line.Text(), ' ');
  if (!blank) return false;
  *code = LeadingNumber(line.Text());
  returnText_.Assign(blank + 1);
  return true;
}

bool CTarvixPipeCommand::WriteRequest(CMyStream& writer) {
  return WriteNameLine(writer) && request_.WriteBlock(writer);
}

bool CTarvixPipeCommand::ReadRequest(CMyStream& reader) { return request_.ReadBlock(reader); }

bool CTarvixPipeCommand::WriteResponse(CMyStream& writer) {
  if (!statusWritten_) {
    statusWritten_ = 1;
    if (!WriteStatusLine(writer)) return false;
  }
  return response_.WriteBlock(writer);
}

bool CTarvixPipeCommand::ReadResponse(CMyStream& reader) {
  int32_t code = 0;
  bool ok = ReadStatusLine(reader, &code);
  // The received text id is not kept: the code's id comes from our tables.
  SetReturn(code);
  return ok && response_.ReadBlock(reader);
}

bool CTarvixPipeCommand::CanRun(CCommandContext*) { return true; }

int32_t CTarvixPipeCommand::Execute(CCommandContext*) { return current_.Code(); }

void CTarvixPipeCommand::Finish(CCommandContext*) {}

// ---- the exchanges ----

int32_t CTarvixPipeCommand::Send(CMyStream& reader, CMyStream& writer, CCommandContext* context) {
  SetReturn(kReturnSuccess);
  wireFailed_ = 0;
  if (!CanRun(context)) {
    SetReturn(kReturnNotRun);
    return current_.Code();
  }
  int32_t code = kReturnFailed;
  if (WriteRequest(writer) && WriteTerminator(writer) && ReadResponse(reader))
    code = Execute(context);
  else
    wireFailed_ = 1;
  SetReturn(code);
  return current_.Code();
}

int32_t CTarvixPipeCommand::Process(CMyStream& reader, CMyStream& writer,
                                    CCommandContext* context) {
  SetReturn(kReturnSuccess);
  statusWritten_ = 0;
  wireFailed_ = 0;
  if (!ReadRequest(reader)) {
    wireFailed_ = 1;
    SetReturn(kReturnFailed);
    return current_.Code();
  }
  response_.ResetAll();
  uint32_t limit = context ? context->IoTimeLimit() : 0;
  if (limit) executionBudget_ = static_cast<int32_t>(limit / 2);
  SetReturn(Execute(context));
  if (!CanRun(context)) {
    if (current_.Code() == kReturnSuccess) SetReturn(kReturnNotRun);
    response_.ResetAll();
  }
  if (!WriteResponse(writer) || (statusWritten_ && !WriteTerminator(writer))) {
    wireFailed_ = 1;
    SetReturn(kReturnFailed);
  }
  Finish(context);
  return current_.Code();
}

// ---- return messages ----

void CTarvixPipeCommand::SetReturn(int32_t code) {
  const CReturnMessage* message = FindReturnMessage(code);
  current_ = CReturnMessage(code, message ? message->TextId() : 0);
}

const CReturnMessage* CTarvixPipeCommand::FindReturnMessage(int32_t code) const {
  const CReturnMessage* message = ownMessages_.Find(code);
  return message ? message : defaultMessages_.Find(code);
}

// ---- registration ----

void CTarvixPipeCommand::AddRequestParam(CNamedParam& param) {
  if (!param.IsEnabled()) return;
  param.Reset();
  request_.Add(&param);
}

void CTarvixPipeCommand::AddResponseParam(CNamedParam& param) {
  if (param.IsEnabled()) response_.Add(&param);
}

void CTarvixPipeCommand::AddBinaryRequestParam(CBinaryParam& param) {
  if (!param.IsEnabled()) return;
  request_.Add(&param);
  request_.AddChainedSource(&param);
}

void CTarvixPipeCommand::AddBinaryResponseParam(CBinaryParam& param) {
  if (!param.IsEnabled()) return;
  response_.Add(&param);
  response_.AddChainedSource(&param);
}

// ---- trace ----

void CTarvixPipeCommand::Describe(CMyStringA& text, bool brief, bool append) {
  if (!append) text.Empty();
  text.AppendFormat("[CMD] %s", name_);
  if (brief) return;
  if (request_.Count()) {
    text.Append("\nRequest parameters:\n");
    request_.DescribeAll(text);
  }
  if (response_.Count()) {
    text.Append("\n\nResponse parameters:\n");
    response_.DescribeAll(text);
  }
  if (ownMessages_.Count()) {
    text.Append("\n\nReturn values (might be incomplete):\n");
    ownMessages_.Describe(text);
  }
}

}  // namespace internal_

CCopyableTarvixPipeCommand* CNopCommand::Clone(bool newId) const {
  return new (std::nothrow) CNopCommand(*this, newId);
}

}  // namespace commands
}  // namespace tarvixlib
