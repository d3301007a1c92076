// Return messages: a command's numeric code and the identifier of the text
// that explains it. The code travels in the status line of a reply; the
// identifier is looked up locally, in the command's own table first and
// then in its copy of the process-wide default table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/mystring.h"

namespace tarvixlib {
namespace commands {

// Codes the command machinery produces itself.
constexpr int32_t kReturnSuccess = 100;
constexpr int32_t kReturnNotRun = 1;          // CanRun refused
constexpr int32_t kReturnFailed = 2;          // a write, flush or read failed, or no parse
constexpr int32_t kReturnInitial = 3;         // never sent
constexpr int32_t kReturnUnknownCommand = 101;  // answered by a listener

class CReturnMessage {
public:
  CReturnMessage() = default;
  CReturnMessage(int32_t code, int32_t textId) : code_(code), textId_(textId) {}

  int32_t Code() const { return code_; }
  int32_t TextId() const { return textId_; }
  // "<code>, i18n::StringId: <id>", replacing the text unless append is set.
  void Describe(CMyStringA& text, bool append) const;

  bool operator==(const CReturnMessage& other) const {
    return code_ == other.code_ && textId_ == other.textId_;
  }

private:
  int32_t code_ = 0;
  int32_t textId_ = 0;
};

// The message every command starts with: {3, 1541}.
CReturnMessage ProcessDefaultReturnMessage();

// An ordered list of messages; lookup returns the first entry of a code.
class CReturnMessages {
public:
  static constexpr size_t kGrowth = 16;

  CReturnMessages() = default;
  CReturnMessages(const CReturnMessages& other);
  CReturnMessages& operator=(const CReturnMessages& other);
  virtual ~CReturnMessages();

  // False (the list unchanged) when it cannot grow.
  bool Add(int32_t code, int32_t textId);
  const CReturnMessage* Find(int32_t code) const;
  void Clear();
  size_t Count() const { return count_; }
  const CReturnMessage& At(size_t index) const { return entries_[index]; }
  // Appends the entries' texts, one per line, separated by LF.
  void Describe(CMyStringA& text) const;

private:
  CReturnMessage* entries_ = nullptr;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

// The process-wide default table: {100, 1536}, {2, 1537}, {110, 1537},
// {140, 1538}, {250, 1539}. Built once; commands take copies.
class CDefaultReturnMessages : public CReturnMessages {
public:
  CDefaultReturnMessages();
  static const CDefaultReturnMessages& Instance();
};

}  // namespace commands
}  // namespace tarvixlib
