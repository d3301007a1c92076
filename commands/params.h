// Pipe command parameters, the parameter store and parameter lists.
//
// On the wire a parameter block is a run of lines ended by ".":
//   NAME:value          a typed parameter (split at the first ":")
//   DATA <size>         followed by exactly <size> raw bytes (binary parameter)
//   LISTSTART/LISTEND   one list item (lists do not nest)
// There is no escaping. Writers therefore replace CR and LF inside a name
// line or a string value by a blank, so that no text a user controls (a
// subject, a file name) can start a protocol line of its own.
//
// Typed parameters are matched by name (without regard to letter case; the
// later of two equal names wins), binary parameters by position: the n-th
// binary parameter of a list takes the n-th DATA block of the block read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "commands/events.h"
#include "commands/wire.h"
#include "foundation/hashtable.h"
#include "foundation/mystream.h"
#include "foundation/mystring.h"
#include "foundation/ptrlist.h"

namespace tarvixlib {
namespace commands {

// A received DATA block stays in memory up to this size, then moves to a
// temporary file.
constexpr uint64_t kDataMemoryThreshold = 0x80000;
// Progress is reported once per chunk of max(kMinDataChunk, size / 100)
// bytes. The bytes themselves move in pieces of at most kDataPiece: a DATA
// line may announce any size up to 2^64 - 1, and no buffer follows it.
constexpr uint64_t kMinDataChunk = 16384;
constexpr size_t kDataPiece = 0x10000;
// Bounds on what one parameter block may create, so that a few bytes on the
// wire cannot make the reader allocate without end: DATA streams and list
// items (each costs a stream or a store), stored values, and the bytes of
// their names and values. Reaching a bound fails the block.
constexpr size_t kMaxDataBlocksPerBlock = 1024;
constexpr size_t kMaxListItemsPerBlock = 1024;
constexpr size_t kMaxValuesPerBlock = 65536;
constexpr size_t kMaxValueBytesPerBlock = 0x4000000;  // 64 MiB
// The DATA blocks of one block together. Their announced sizes may add up
// to kMaxDataBytesPerBlock: a DATA line announcing more than is left fails
// the block before any of its bytes is read, and the block then drops every
// stream it received, so nothing of it stays in the temporary folder. Of
// that, the blocks kept in memory (each up to kDataMemoryThreshold) may
// hold kMaxDataMemoryPerBlock; a block that would pass it goes straight to
// a temporary file.
constexpr uint64_t kMaxDataBytesPerBlock = 0x10000000;  // 256 MiB
constexpr uint64_t kMaxDataMemoryPerBlock = 0x800000;  // 8 MiB

// The bounds a parameter list applies to every block it reads; the
// defaults are the constants above. Tests and the fuzz target set smaller
// ones to reach them.
struct CBlockLimits {
  size_t dataBlocks = kMaxDataBlocksPerBlock;
  size_t listItems = kMaxListItemsPerBlock;
  size_t values = kMaxValuesPerBlock;
  size_t valueBytes = kMaxValueBytesPerBlock;
  uint64_t dataBytes = kMaxDataBytesPerBlock;
  uint64_t dataMemory = kMaxDataMemoryPerBlock;
  uint64_t memoryThreshold = kDataMemoryThreshold;  // one DATA block in memory
};

class CParameterStore;

// ---- parameters ----

class CParam {
public:
  virtual ~CParam() = default;
  // Sets the value to its default.
  virtual void Reset() = 0;
  // Appends the trace text of the value (type name and value, no name).
  virtual void Describe(CMyStringA& text) = 0;
  virtual const char* GetName() const { return "unnamed"; }
  // Takes the value out of a parsed block; whether a usable value was found.
  virtual bool ReadFrom(CParameterStore& store) { return false; }
  // Writes the parameter's wire line(s); success.
  virtual bool WriteTo(CMyStream& out) { return false; }
};

class CNamedParam : public CParam {
public:
  CNamedParam() = default;
  // name must outlive the parameter (a constant in practice).
  explicit CNamedParam(const char* name, bool enabled = true)
      : enabled_(enabled ? 1 : 0), name_(name ? name : "") {}
  const char* GetName() const override { return name_; }
  bool IsEnabled() const { return enabled_ != 0; }
  void SetEnabled(bool enabled) { enabled_ = enabled ? 1 : 0; }
  void SetName(const char* name) { name_ = name ? name : ""; }

protected:
  // Writes "name:" (when the name is not empty), the text and LF; CR and LF
  // inside the name or text become blanks.
  bool WriteLine(CMyStream& out, const char* text) const;

private:
  uint8_t enabled_ = 0;
  const char* name_ = "";
};

// How one value type is written, read and described.
template <typename T>
struct CParamTraits;

template <>
struct CParamTraits<bool> {
  static const char* TypeName() { return "bool"; }
  // "yes" in any letter case is true, every other text false.
  static bool Parse(const char* text, bool* value);
  static const char* Format(bool value, char* buffer, size_t size);
};

template <>
struct CParamTraits<int32_t> {
  static const char* TypeName() { return "int"; }
  // Optional "-" or "+", then one or more digits, nothing else; the value
  // wraps in 32 bits.
  static bool Parse(const char* text, int32_t* value);
  static const char* Format(int32_t value, char* buffer, size_t size);
};

template <>
struct CParamTraits<uint8_t> {
  static const char* TypeName() { return "unsigned char"; }
  // Optional "+", then one or more digits; wraps in 8 bits.
  static bool Parse(const char* text, uint8_t* value);
  static const char* Format(uint8_t value, char* buffer, size_t size);
};

template <>
struct CParamTraits<uint32_t> {
  static const char* TypeName() { return "unsigned long"; }
  static bool Parse(const char* text, uint32_t* value);
  static const char* Format(uint32_t value, char* buffer, size_t size);
};

template <>
struct CParamTraits<uint64_t> {
  static const char* TypeName() { return "unsigned long long"; }
  static bool Parse(const char* text, uint64_t* value);
  static const char* Format(uint64_t value, char* buffer, size_t size);
};

// The typed parameter. The value lives in the parameter's own storage
// unless the command binds it to a member of its own (Bind).
template <typename T>
class CParamT : public CNamedParam {
public:
  explicit CParamT(const char* name = "", T defaultValue = T(), bool enabled = true)
      : CNamedParam(name, enabled), own_(defaultValue), default_(defaultValue) {}
  CParamT(const CParamT&) = delete;
  CParamT& operator=(const CParamT&) = delete;

  void Reset() override { *value_ = default_; }
  void Describe(CMyStringA& text) override {
    char buffer[32];
    text.Append(CParamTraits<T>::TypeName());
    text.Append(" ");
    text.Append(CParamTraits<T>::Format(*value_, buffer, sizeof buffer));
  }
  bool ReadFrom(CParameterStore& store) override;
  bool WriteTo(CMyStream& out) override {
    char buffer[32];
    return WriteLine(out, CParamTraits<T>::Format(*value_, buffer, sizeof buffer));
  }

  const T& Get() const { return *value_; }
  void Set(const T& value) { *value_ = value; }
  const T& Default() const { return default_; }
  void SetDefault(const T& value) { default_ = value; }
  // Points the parameter at external storage (null: back to its own).
  void Bind(T* storage) { value_ = storage ? storage : &own_; }

private:
  T own_;
  T default_;
  T* value_ = &own_;
};

template <>
class CParamT<CMyStringA> : public CNamedParam {
public:
  explicit CParamT(const char* name = "", const char* defaultValue = "", bool enabled = true)
      : CNamedParam(name, enabled), own_(defaultValue), default_(defaultValue) {}
  CParamT(const CParamT&) = delete;
  CParamT& operator=(const CParamT&) = delete;

  void Reset() override { *value_ = default_; }
  void Describe(CMyStringA& text) override {
    text.Append("string ");
    text.Append(value_->GetString());
  }
  bool ReadFrom(CParameterStore& store) override;
  bool WriteTo(CMyStream& out) override { return WriteLine(out, value_->GetString()); }

  const CMyStringA& Get() const { return *value_; }
  void Set(const char* value) { value_->Assign(value); }
  const CMyStringA& Default() const { return default_; }
  void SetDefault(const char* value) { default_.Assign(value); }
  void Bind(CMyStringA* storage) { value_ = storage ? storage : &own_; }

private:
  CMyStringA own_;
  CMyStringA default_;
  CMyStringA* value_ = &own_;
};

using CBoolParam = CParamT<bool>;
using CIntParam = CParamT<int32_t>;
using CByteParam = CParamT<uint8_t>;
using CULongParam = CParamT<uint32_t>;       // "unsigned long": 32 bits on the wire's peer
using CULongLongParam = CParamT<uint64_t>;
using CStringParam = CParamT<CMyStringA>;

// A parameter that carries a stream. No name on the wire: matched by
// position against the DATA blocks of the block read.
class CBinaryParam : public CParam, public CMyEventSource<CBinaryDownloadProgressEvent> {
public:
  // external null: the parameter's own memory stream.
  explicit CBinaryParam(CMyStream* external = nullptr);
  CBinaryParam(const CBinaryParam&) = delete;
  CBinaryParam& operator=(const CBinaryParam&) = delete;

  // Rewinds the stream and truncates it there.
  void Reset() override;
  void Describe(CMyStringA& text) override { text.Append("binary"); }
  // Copies the store's next DATA stream into this stream (rewound, truncated
  // after the data); false, with an empty stream, when none is left or the
  // copy was short.
  bool ReadFrom(CParameterStore& store) override;
  // "DATA <size>" LF and exactly that many bytes from the rewound stream.
  bool WriteTo(CMyStream& out) override;

  CMyStream& Stream() { return *stream_; }
  bool IsEnabled() const { return enabled_ != 0; }
  void SetEnabled(bool enabled) { enabled_ = enabled ? 1 : 0; }
  // Convenience for callers filling the parameter from memory.
  bool SetBytes(const void* data, size_t length);

private:
  CMyStream* stream_;
  CMyStreamBuf own_;
  uint8_t enabled_ = 1;
};

// ---- the parsed block ----

class CParameterStore {
public:
  // Names are looked up without regard to letter case, in a table that
  // grows with its entries and hashes under a key of this process: a peer
  // cannot choose names that share a chain, so filling and clearing a store
  // costs time in proportion to what it holds.
  CParameterStore();
  ~CParameterStore();
  CParameterStore(const CParameterStore&) = delete;
  CParameterStore& operator=(const CParameterStore&) = delete;

  // Frees everything and sets the DATA cursor back to the first stream.
  void Clear();
  // Frees the DATA streams of this store and of its list items.
  void DropStreams();

  // Adds name = value, replacing an earlier value of the same name (which
  // keeps its place in the arrival order). False when out of memory.
  bool SetValue(const char* name, const char* value);
  // The value of name, or null.
  const char* FindValue(const char* name) const;
  size_t ValueCount() const { return arrivals_.Count(); }
  // Names and values in arrival order: for (n = FirstValue(); n; n = n->next).
  CMyPtrListNode* FirstValue() const { return arrivals_.Head(); }
  static const char* NameOf(const CMyPtrListNode* node);
  static const char* ValueOf(const CMyPtrListNode* node);
  // The most names that share one chain of the table.
  size_t LongestChain() const { return values_.Core().LongestChain(); }

  // Nested stores, one per list item, in arrival order (owned).
  CParameterStore* AddListItem();
  size_t ListCount() const { return lists_.Count(); }
  CParameterStore* ListItem(size_t index) const;

  // DATA streams in arrival order (owned).
  bool AddStream(CMyStream* stream);
  size_t StreamCount() const { return streams_.Count(); }
  CMyStream* StreamAt(size_t index) const;
  // The stream at the cursor, advancing it; null when none is left.
  CMyStream* NextStream();
  size_t Cursor() const { return cursor_; }

private:
  CMyHashTableT<const char*, char*> values_;  // owned malloc'ed copies
  CMyPtrList arrivals_;                       // CMyHashEntry* in arrival order
  CMyPtrListT<CParameterStore> lists_{true};
  CMyPtrListT<CMyStream> streams_{true};
  CMyPtrListNode* cursorNode_ = nullptr;
  size_t cursor_ = 0;
};

template <typename T>
bool CParamT<T>::ReadFrom(CParameterStore& store) {
  const char* text = store.FindValue(GetName());
  if (!text) {
    *value_ = default_;
    return false;
  }
  return CParamTraits<T>::Parse(text, value_);
}

inline bool CParamT<CMyStringA>::ReadFrom(CParameterStore& store) {
  const char* text = store.FindValue(GetName());
  if (!text) {
    *value_ = default_;
    return false;
  }
  value_->Assign(text);
  return true;
}

// ---- a command's parameter list in one direction ----

class CCommandParams : public CMyEventSource<CBinaryDownloadProgressEvent> {
public:
  CCommandParams() = default;
  ~CCommandParams() override;
  // The parameters are not owned: they are members of the command.
  void Add(CParam* param) {
    if (param) params_.AddTail(param);
  }
  void RemoveAll() { params_.Clear(); }
  size_t Count() const { return params_.Count(); }
  CMyPtrListNode* First() const { return params_.Head(); }
  static CParam* ParamOf(const CMyPtrListNode* node) { return static_cast<CParam*>(node->data); }

  void ResetAll();
  // Appends the parameters' trace texts, separated by LF.
  void DescribeAll(CMyStringA& text);
  // Parses one block up to its "." line into the store, then lets every
  // parameter take its value from the top-level store (also when the parse
  // failed). Returns whether the parse succeeded.
  bool ReadBlock(CMyStream& reader);
  // Every parameter's WriteTo in order, stopping at the first failure.
  bool WriteBlock(CMyStream& writer);

  CParameterStore& Store() { return store_; }
  // The line buffer of this list, lent to the status line reader.
  CMyLineBuffer& LineBuffer() { return line_; }

  void SetLimits(const CBlockLimits& limits) { limits_ = limits; }
  const CBlockLimits& Limits() const { return limits_; }
  // Where DATA blocks spill to; null or empty: the user's temporary folder.
  void SetSpillDirectory(const WChar* directory);

private:
  // What the DATA blocks of the block being read may still take.
  struct DataBudget {
    uint64_t bytes;
    uint64_t memory;
  };
  bool ParseBlock(CMyStream& reader, bool* dataRefused);
  bool ReadData(CMyStream& reader, const char* sizeText, CParameterStore& target,
                DataBudget& budget, bool* refused);

  CMyPtrList params_;  // CParam*
  CParameterStore store_;
  CMyLineBuffer line_;
  CBlockLimits limits_;
  CMyStringW spillDirectory_;
  uint8_t* piece_ = nullptr;  // kDataPiece bytes, for readers that cannot lend their buffer
};

// Reads and discards one parameter block up to its "." line, following its
// structure as ReadBlock does: the bytes of a DATA block are skipped as
// bytes (never read as lines), lists must open and close as in a block.
// Over-long lines are discarded piece by piece. False when the data ends
// first, the structure is broken or the DATA blocks announce more than
// limits.dataBytes (the rest is then left unread).
bool DrainBlock(CMyStream& reader, CMyLineBuffer& line,
                const CBlockLimits& limits = CBlockLimits());

}  // namespace commands
}  // namespace tarvixlib
