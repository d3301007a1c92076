#include "foundation/hashtable.h"

#include <cstdlib>

#include "foundation/asciitext.h"
#include "foundation/platform.h"
#include "foundation/textconv.h"

namespace tarvixlib {

namespace {

uint32_t RoundedTextArea(size_t length) {
  return static_cast<uint32_t>((length + 1 + 3) & ~static_cast<size_t>(3));
}

inline uint64_t Rotl(uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

struct SipState {
  uint64_t v0, v1, v2, v3;
  void Round() {
    v0 += v1;
    v1 = Rotl(v1, 13) ^ v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16) ^ v2;
    v0 += v3;
    v3 = Rotl(v3, 21) ^ v0;
    v2 += v1;
    v1 = Rotl(v1, 17) ^ v2;
    v2 = Rotl(v2, 32);
  }
  void Take(uint64_t m) {
    v3 ^= m;
    Round();
    v0 ^= m;
  }
};

CMyHashKey DrawKey() {
  CMyHashKey key{0, 0};
  if (platform::RandomBytes(&key, sizeof key)) return key;
  // No random source: what an outsider cannot see is still better than a
  // constant.
  int local = 0;
  key.k0 = reinterpret_cast<uintptr_t>(&local) ^ (platform::TickCountMs() << 20);
  key.k1 = reinterpret_cast<uintptr_t>(&key) * 0x9E3779B97F4A7C15ull ^ platform::CurrentThreadId();
  return key;
}

}  // namespace

const CMyHashKey& ProcessHashKey() {
  static const CMyHashKey key = DrawKey();
  return key;
}

uint32_t KeyedTextHash(const char* text, bool exactCase, const CMyHashKey& key) {
  SipState s{0x736f6d6570736575ull ^ key.k0, 0x646f72616e646f6dull ^ key.k1,
             0x6c7967656e657261ull ^ key.k0, 0x7465646279746573ull ^ key.k1};
  uint64_t m = 0;
  size_t n = 0;
  for (; text[n]; ++n) {
    auto b = static_cast<unsigned char>(text[n]);
    if (!exactCase) b = FoldNameByte(b);
    m |= static_cast<uint64_t>(b) << (8 * (n & 7));
    if ((n & 7) == 7) {
      s.Take(m);
      m = 0;
    }
  }
  s.Take(m | static_cast<uint64_t>(n) << 56);
  s.v2 ^= 0xff;
  s.Round();
  s.Round();
  s.Round();
  uint64_t h = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

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
  mask_ = count - 1;  // the array itself comes with the first insert
  exactCase_ = exactCase;
  maxEntries_ = maxEntries;
  keyLength_ = keyLength < 0 ? -1 : keyLength;
  return true;
}

void CMyHashTable::SetOptions(uint32_t options) {
  bool rehash = count_ && ((options ^ options_) & kSecretHash);
  options_ = options;
  // Without memory for a new array the entries are put back into the
  // same one, under the new hash.
  if (rehash && !Rehash(mask_ + 1)) {
    CMyHashEntry* all = nullptr;
    for (uint32_t i = 0; i <= mask_; ++i) {
      while (CMyHashEntry* e = buckets_[i]) {
        buckets_[i] = e->next;
        e->next = all;
        all = e;
      }
    }
    while (CMyHashEntry* e = all) {
      all = e->next;
      CMyHashEntry*& head = buckets_[Hash(e->KeyBytes()) & mask_];
      e->next = head;
      head = e;
    }
  }
}

bool CMyHashTable::Rehash(uint32_t count) {
  auto** grown = static_cast<CMyHashEntry**>(std::calloc(count, sizeof(CMyHashEntry*)));
  if (!grown) return false;
  uint32_t mask = count - 1;
  if (buckets_) {
    for (uint32_t i = 0; i <= mask_; ++i) {
      for (CMyHashEntry* e = buckets_[i]; e;) {
        CMyHashEntry* next = e->next;
        CMyHashEntry*& head = grown[Hash(e->KeyBytes()) & mask];
        e->next = head;
        head = e;
        e = next;
      }
    }
  }
  std::free(buckets_);
  buckets_ = grown;
  mask_ = mask;
  return true;
}

size_t CMyHashTable::LongestChain() const {
  size_t longest = 0;
  if (!buckets_) return 0;
  for (uint32_t i = 0; i <= mask_; ++i) {
    size_t length = 0;
    for (CMyHashEntry* e = buckets_[i]; e; e = e->next) ++length;
    if (length > longest) longest = length;
  }
  return longest;
}

uint32_t CMyHashTable::Hash(const void* key) const {
  if (keyLength_ < 0) {
    const char* text = static_cast<const char*>(key);
    if (options_ & kSecretHash) return KeyedTextHash(text, exactCase_, ProcessHashKey());
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
  if (!key || (!buckets_ && !Rehash(mask_ + 1))) return nullptr;
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
  // A failed growth keeps the table as it is: only longer chains.
  if ((options_ & kGrow) && count_ > mask_ + 1u && mask_ + 1u < kMaxBuckets) Rehash((mask_ + 1u) * 2);
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
  if (!buckets_ || !count_) return;
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
