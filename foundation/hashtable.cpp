#include "foundation/hashtable.h"

#include <cstdlib>

#include "foundation/textconv.h"

namespace tarvixlib {

namespace {

uint32_t RoundedTextArea(size_t length) {
  return static_cast<uint32_t>((length + 1 + 3) & ~static_cast<size_t>(3));
}

}  // namespace

CMyHashTable::~CMyHashTable() {
  Clear();
  std::free(buckets_);
}

bool CMyHashTable::Init(uint32_t requestedBuckets, bool exactCase, int64_t maxEntries,
                        int keyLength) {
  Clear();
  std::free(buckets_);
  buckets_ = nullptr;
  mask_ = 0;

  uint32_t count = kMinBuckets;
  while (count < kMaxBuckets && count * 2 <= requestedBuckets) count *= 2;
  buckets_ = static_cast<CMyHashEntry**>(std::calloc(count, sizeof(CMyHashEntry*)));
  if (!buckets_) return false;
  mask_ = count - 1;
  exactCase_ = exactCase;
  maxEntries_ = maxEntries;
  keyLength_ = keyLength < 0 ? -1 : keyLength;
  return true;
}

uint32_t CMyHashTable::Hash(const void* key) const {
  if (keyLength_ < 0) {
    const char* text = static_cast<const char*>(key);
    return exactCase_ ? HashName(text) : HashNameNoCase(text);
  }
  uint32_t word = 0;
  std::memcpy(&word, key, keyLength_ < 4 ? static_cast<size_t>(keyLength_) : 4u);
  return word;
}

bool CMyHashTable::KeyEquals(const CMyHashEntry* entry, const void* key) const {
  if (keyLength_ >= 0) return std::memcmp(entry->KeyBytes(), key, keyLength_) == 0;
  const char* text = static_cast<const char*>(key);
  return exactCase_ ? std::strcmp(entry->KeyText(), text) == 0
                    : TextEqualsNoCase(entry->KeyText(), text);
}

CMyHashEntry* CMyHashTable::Lookup(const void* key) const {
  if (!buckets_ || !key) return nullptr;
  for (CMyHashEntry* e = buckets_[Hash(key) & mask_]; e; e = e->next) {
    if (KeyEquals(e, key)) return e;
  }
  return nullptr;
}

void CMyHashTable::Unlink(CMyHashEntry* entry) {
  uint32_t bucket = Hash(entry->KeyBytes()) & mask_;
  for (CMyHashEntry** link = &buckets_[bucket]; *link; link = &(*link)->next) {
    if (*link == entry) {
      *link = entry->next;
      --count_;
      return;
    }
  }
}

// A present key keeps its entry (and so its place in the visiting order)
// when the stored value area is large enough for the new value; otherwise
// the old entry is dropped and a new one goes to the head of the chain.
CMyHashEntry* CMyHashTable::Put(const void* key, const void* value, uint32_t valueSize) {
  if (!buckets_ || !key) return nullptr;
  if (!(options_ & kAllowDuplicates)) {
    if (CMyHashEntry* e = Lookup(key)) {
      if (options_ & kKeepExisting) return nullptr;
      if (e->valueSize >= valueSize) {
        if (valueSize == 0) {
          e->value = const_cast<void*>(value);
        } else {
          e->value = const_cast<char*>(reinterpret_cast<const char*>(e + 1)) + e->keySize;
          std::memcpy(e->value, value, valueSize);
        }
        e->valueSize = valueSize;
        return e;
      }
      Unlink(e);
      std::free(e);
    }
  }
  if (maxEntries_ >= 0 && static_cast<int64_t>(count_) >= maxEntries_) return nullptr;

  uint32_t keySize = keyLength_ >= 0 ? static_cast<uint32_t>(keyLength_)
                                     : RoundedTextArea(std::strlen(static_cast<const char*>(key)));
  auto* e = static_cast<CMyHashEntry*>(std::malloc(sizeof(CMyHashEntry) + keySize + valueSize));
  if (!e) return nullptr;
  char* keyArea = reinterpret_cast<char*>(e + 1);
  if (keyLength_ >= 0) {
    std::memcpy(keyArea, key, keySize);
  } else {
    size_t length = std::strlen(static_cast<const char*>(key));
    std::memcpy(keyArea, key, length);
    std::memset(keyArea + length, 0, keySize - length);
  }
  e->keySize = keySize;
  e->valueSize = valueSize;
  if (valueSize == 0) {
    e->value = const_cast<void*>(value);
  } else {
    e->value = keyArea + keySize;
    std::memcpy(e->value, value, valueSize);
  }
  CMyHashEntry*& head = buckets_[Hash(key) & mask_];
  e->next = head;
  head = e;
  ++count_;
  return e;
}

bool CMyHashTable::Delete(const void* key, void* valueOut, size_t outSize) {
  CMyHashEntry* e = Lookup(key);
  if (!e) return false;
  if (valueOut) {
    if (e->valueSize == 0) {
      if (outSize >= sizeof(void*)) std::memcpy(valueOut, &e->value, sizeof(void*));
    } else {
      std::memcpy(valueOut, e->value, outSize < e->valueSize ? outSize : e->valueSize);
    }
  }
  Unlink(e);
  std::free(e);
  return true;
}

void CMyHashTable::Clear() {
  if (!buckets_) return;
  for (uint32_t i = 0; i <= mask_; ++i) {
    CMyHashEntry* e = buckets_[i];
    while (e) {
      CMyHashEntry* next = e->next;
      std::free(e);
      e = next;
    }
    buckets_[i] = nullptr;
  }
  count_ = 0;
}

CMyHashEntry* CMyHashTable::First() const {
  if (!buckets_) return nullptr;
  for (uint32_t i = 0; i <= mask_; ++i) {
    if (buckets_[i]) return buckets_[i];
  }
  return nullptr;
}

CMyHashEntry* CMyHashTable::Next(const CMyHashEntry* entry) const {
  if (!entry) return nullptr;
  if (entry->next) return entry->next;
  for (uint32_t i = (Hash(entry->KeyBytes()) & mask_) + 1; i <= mask_; ++i) {
    if (buckets_[i]) return buckets_[i];
  }
  return nullptr;
}

}  // namespace tarvixlib
