#include "commands/returnmessages.h"

#include <cstdlib>
#include <cstring>

#include "foundation/singleton.h"

namespace tarvixlib {
namespace commands {

void CReturnMessage::Describe(CMyStringA& text, bool append) const {
  if (!append) text.Empty();
  text.AppendFormat("%d, i18n::StringId: %d", code_, textId_);
}

CReturnMessage ProcessDefaultReturnMessage() { return CReturnMessage(kReturnInitial, 1541); }

CReturnMessages::CReturnMessages(const CReturnMessages& other) { *this = other; }

CReturnMessages& CReturnMessages::operator=(const CReturnMessages& other) {
  if (this == &other) return *this;
  Clear();
  for (size_t i = 0; i < other.count_; ++i) Add(other.entries_[i].Code(), other.entries_[i].TextId());
  return *this;
}

CReturnMessages::~CReturnMessages() { std::free(entries_); }

bool CReturnMessages::Add(int32_t code, int32_t textId) {
  if (count_ == capacity_) {
    size_t capacity = capacity_ + kGrowth;
    auto* grown = static_cast<CReturnMessage*>(std::realloc(entries_, capacity * sizeof(CReturnMessage)));
    if (!grown) return false;
    entries_ = grown;
    capacity_ = capacity;
  }
  entries_[count_++] = CReturnMessage(code, textId);
  return true;
}

const CReturnMessage* CReturnMessages::Find(int32_t code) const {
  for (size_t i = 0; i < count_; ++i)
    if (entries_[i].Code() == code) return &entries_[i];
  return nullptr;
}

void CReturnMessages::Clear() { count_ = 0; }

void CReturnMessages::Describe(CMyStringA& text) const {
  for (size_t i = 0; i < count_; ++i) {
    if (i) text.Append("\n");
    entries_[i].Describe(text, true);
  }
}

CDefaultReturnMessages::CDefaultReturnMessages() {
  Add(100, 1536);
  Add(2, 1537);
  Add(110, 1537);
  Add(140, 1538);
  Add(250, 1539);
}

const CDefaultReturnMessages& CDefaultReturnMessages::Instance() {
  return CSingleton<CDefaultReturnMessages>::Instance();
}

}  // namespace commands
}  // namespace tarvixlib
