// Chained hash tables keyed by text or by fixed-length byte keys.
//
// The visiting order is part of the contract (MIME headers are written in
// it): buckets in ascending index, and inside a bucket the most recently
// inserted entry first. The bucket of a key is its hash AND (count - 1);
// text keys hash with HashName / HashNameNoCase, fixed-length keys with
// their first 32-bit word (little-endian, zero-padded when shorter).
//
// Tables filled by a peer take two options instead, which give up that
// order: kSecretHash hashes text keys under a key drawn at random once per
// process (names cannot be chosen to share a chain), kGrow doubles the
// buckets whenever the entries outnumber them (chains stay short however
// many entries come).
//
// The bucket array is made on the first insert: an empty table costs no
// memory and no walk when it goes.
//
// Neither table locks; owners serialise access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarvixlib {

// The key of the keyed text hash.
struct CMyHashKey {
  uint64_t k0;
  uint64_t k1;
};
// Drawn once per process from the system's random source.
const CMyHashKey& ProcessHashKey();
// SipHash-1-3 of the text under the key, the bytes folded as
// HashNameNoCase folds them unless exactCase; the 64 bits folded to 32.
uint32_t KeyedTextHash(const char* text, bool exactCase, const CMyHashKey& key);

// One entry: chain link, value, sizes, then the key area and the copied
// value. A value size of 0 means `value` is a pointer stored unchanged;
// otherwise `value` points at the copy behind the key area.
struct CMyHashEntry {
  CMyHashEntry* next;
  void* value;
  uint32_t valueSize;
  uint32_t keySize;  // size of the key area (text: length + 1 rounded up to 4)

  const char* KeyText() const { return reinterpret_cast<const char*>(this + 1); }
  const void* KeyBytes() const { return this + 1; }
  // The stored pointer (size 0) or the address of the copied value.
  void* Value() const { return value; }
};

class CMyHashTable {
public:
  enum : uint32_t {
    kAllowDuplicates = 1,  // insert without looking the key up
    kKeepExisting = 2,     // an insert of a present key fails
    kGrow = 4,             // the buckets double when the entries outnumber them
    kSecretHash = 8,       // text keys hash with KeyedTextHash (process key)
  };
  static constexpr uint32_t kMinBuckets = 16;
  static constexpr uint32_t kMaxBuckets = 0x2000000;

  CMyHashTable() = default;
  ~CMyHashTable();
  CMyHashTable(const CMyHashTable&) = delete;
  CMyHashTable& operator=(const CMyHashTable&) = delete;

  // Frees any previous contents. Bucket count: the largest power of two not
  // above the request, clamped to 16..0x2000000. maxEntries -1: unlimited.
  // keyLength -1: zero-terminated text keys (exactCase chooses the compare
  // and the hash); otherwise fixed-length byte keys of that many bytes.
  // The options stay as they were.
  bool Init(uint32_t requestedBuckets, bool exactCase = true,
            int64_t maxEntries = -1, int keyLength = -1);
  // Entries already held are rehashed when the hash changes.
  void SetOptions(uint32_t options);
  uint32_t GetOptions() const { return options_; }

  CMyHashEntry* Lookup(const void* key) const;
  // Adds or replaces; see the .cpp for the in-place rule. valueSize 0 stores
  // `value` itself. Returns the entry, or null (full table, present key
  // under kKeepExisting, allocation failure, null key).
  CMyHashEntry* Put(const void* key, const void* value, uint32_t valueSize);
  // Unlinks the key's entry and frees it. The value is handed out first:
  // the pointer itself (size-0 entries) or up to outSize bytes of the copy.
  bool Delete(const void* key, void* valueOut = nullptr, size_t outSize = 0);
  void Clear();

  CMyHashEntry* First() const;
  CMyHashEntry* Next(const CMyHashEntry* entry) const;

  uint32_t BucketCount() const { return mask_ + 1; }
  uint32_t BucketOf(const void* key) const { return Hash(key) & mask_; }
  size_t Count() const { return count_; }
  // The most entries any one chain holds (a walk over every bucket).
  size_t LongestChain() const;
  bool IsTextKey() const { return keyLength_ < 0; }
  bool IsExactCase() const { return exactCase_; }

private:
  uint32_t Hash(const void* key) const;
  bool KeyEquals(const CMyHashEntry* entry, const void* key) const;
  void Unlink(CMyHashEntry* entry);
  // Moves every entry into a new array of `count` buckets; false, changing
  // nothing, when memory is short.
  bool Rehash(uint32_t count);

  CMyHashEntry** buckets_ = nullptr;
  uint32_t mask_ = 0;
  size_t count_ = 0;
  int64_t maxEntries_ = -1;
  int keyLength_ = -1;
  bool exactCase_ = true;
  uint32_t options_ = 0;
};

// How a key type maps onto the core table: text (const char*) or a fixed
// number of bytes (any trivially copyable type).
template <typename K, typename Enable = void>
struct CMyHashKeyTraits {
  static_assert(std::is_trivially_copyable<K>::value, "fixed keys are raw bytes");
  static constexpr int kKeyLength = static_cast<int>(sizeof(K));
  static const void* Bytes(const K& key) { return &key; }
  static bool IsNull(const K&) { return false; }
  static K FromEntry(const CMyHashEntry* e) {
    K k;
    std::memcpy(&k, e->KeyBytes(), sizeof(K));
    return k;
  }
};
template <>
struct CMyHashKeyTraits<const char*> {
  static constexpr int kKeyLength = -1;
  static const void* Bytes(const char* key) { return key; }
  static bool IsNull(const char* key) { return key == nullptr; }
  static const char* FromEntry(const CMyHashEntry* e) { return e->KeyText(); }
};

// How a value type is stored: pointers unchanged (size 0), anything else
// trivially copyable by copy into the entry.
template <typename V, typename Enable = void>
struct CMyHashValueTraits {
  static_assert(std::is_trivially_copyable<V>::value, "values are copied bytes");
  static constexpr uint32_t kSize = sizeof(V);
  static const void* Store(const V& v) { return &v; }
  static V Load(const CMyHashEntry* e) {
    V v;
    std::memcpy(&v, e->Value(), sizeof(V));
    return v;
  }
};
template <typename P>
struct CMyHashValueTraits<P*> {
  static constexpr uint32_t kSize = 0;
  static const void* Store(P* v) { return v; }
  static P* Load(const CMyHashEntry* e) { return static_cast<P*>(e->Value()); }
};

// A table for one key and value type. Text keys are compared exactly unless
// the table is constructed with exactCase false.
template <typename K, typename V>
class CMyHashTableT {
  using KT = CMyHashKeyTraits<K>;
  using VT = CMyHashValueTraits<V>;

public:
  explicit CMyHashTableT(uint32_t buckets = 16, bool exactCase = true, int64_t maxEntries = -1) {
    table_.Init(buckets, exactCase, maxEntries, KT::kKeyLength);
  }
  virtual ~CMyHashTableT() = default;

  // Adds only an absent key; false for a present or null key (value unchanged).
  virtual bool Insert(K key, const V& value) {
    if (KT::IsNull(key) || table_.Lookup(KT::Bytes(key))) return false;
    return Replace(key, value);
  }
  // Adds or replaces.
  virtual bool Set(K key, const V& value) {
    if (KT::IsNull(key)) return false;
    return Replace(key, value);
  }
  virtual bool Contains(K key) const {
    return !KT::IsNull(key) && table_.Lookup(KT::Bytes(key)) != nullptr;
  }
  virtual bool Get(K key, V* value) const {
    if (KT::IsNull(key)) return false;
    CMyHashEntry* e = table_.Lookup(KT::Bytes(key));
    if (!e) return false;
    if (value) *value = VT::Load(e);
    return true;
  }
  // Get followed by removal; the value is handed to the caller.
  virtual bool Take(K key, V* value) {
    if (!Get(key, value)) return false;
    return table_.Delete(KT::Bytes(key));
  }
  virtual bool Remove(K key) {
    if (KT::IsNull(key)) return false;
    OnRemove(key);
    return table_.Delete(KT::Bytes(key));
  }
  virtual bool IsEmpty() const { return table_.Count() == 0; }
  virtual void Clear() { table_.Clear(); }

  size_t Count() const { return table_.Count(); }
  // Visiting in the table's order: for (e = First(); e; e = Next(e)).
  CMyHashEntry* First() const { return table_.First(); }
  CMyHashEntry* Next(const CMyHashEntry* e) const { return table_.Next(e); }
  static K KeyOf(const CMyHashEntry* e) { return KT::FromEntry(e); }
  static V ValueOf(const CMyHashEntry* e) { return VT::Load(e); }
  CMyHashTable& Core() { return table_; }
  const CMyHashTable& Core() const { return table_; }

protected:
  // Hook for owning tables: called before a key is removed.
  virtual void OnRemove(K) {}
  bool Replace(K key, const V& value) {
    return table_.Put(KT::Bytes(key), VT::Store(value), VT::kSize) != nullptr;
  }
  CMyHashTable table_;
};

// A table of object pointers that, when owning, deletes the objects it
// drops: on Set over a present key, Remove, Clear and destruction (Take hands
// the object to the caller instead).
template <typename K, typename T>
class CMyObjectHashTableT : public CMyHashTableT<K, T*> {
  using Base = CMyHashTableT<K, T*>;

public:
  explicit CMyObjectHashTableT(uint32_t buckets = 16, bool exactCase = true, bool owned = true,
                               int64_t maxEntries = -1)
      : Base(buckets, exactCase, maxEntries), owned_(owned) {}
  ~CMyObjectHashTableT() override { DeleteAll(); }

  bool Set(K key, T* const& value) override {
    T* old = nullptr;
    bool had = Base::Get(key, &old);
    if (!Base::Replace(key, value)) return false;  // the old object stays stored
    if (had && owned_ && old != value) delete old;
    return true;
  }
  void Clear() override {
    DeleteAll();
    Base::Clear();
  }
  bool IsOwned() const { return owned_; }

protected:
  void OnRemove(K key) override {
    T* old = nullptr;
    if (owned_ && Base::Get(key, &old)) delete old;
  }

private:
  void DeleteAll() {
    if (!owned_) return;
    for (CMyHashEntry* e = this->First(); e; e = this->Next(e)) delete Base::ValueOf(e);
    this->table_.Clear();
  }
  bool owned_;
};

}  // namespace tarvixlib
