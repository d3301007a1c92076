#include "commands/params.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "foundation/asciitext.h"
#include "foundation/myprintf.h"

namespace tarvixlib {
namespace commands {

namespace {

// Optional sign, then one or more decimal digits and nothing else,
// accumulated in T's own width without an overflow check (the value wraps).
template <typename T>
bool ParseDecimal(const char* text, bool allowMinus, T* value) {
  bool negative = false;
  if (*text == '+') {
    ++text;
  } else if (*text == '-') {
    if (!allowMinus) return false;
    negative = true;
    ++text;
  }
  if (*text < '0' || *text > '9') return false;
  using U = std::make_unsigned_t<T>;
  U v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) v = static_cast<U>(v * 10u + static_cast<U>(*text - '0'));
  if (*text) return false;
  if (negative) v = static_cast<U>(0u - v);
  *value = static_cast<T>(v);
  return true;
}

// Decimal digits of v, written backwards from the end of the buffer.
const char* FormatUnsigned(uint64_t v, bool negative, char* buffer, size_t size) {
  char* p = buffer + size;
  *--p = '\0';
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (negative) *--p = '-';
  return p;
}

char* CopyText(const char* text, size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// The size on a DATA line, read like an unsigned 64-bit value; a text that
// is no number counts as 0.
uint64_t DataSize(const char* text) {
  uint64_t size = 0;
  return CParamTraits<uint64_t>::Parse(text, &size) ? size : 0;
}

// What a line of a parameter block is.
enum class LineKind { kEnd, kData, kListStart, kListEnd, kValue };

LineKind KindOf(const char* text, size_t length) {
  if (length == 1 && text[0] == '.') return LineKind::kEnd;
  if (std::strncmp(text, "DATA ", 5) == 0) return LineKind::kData;
  if (std::strcmp(text, "LISTSTART") == 0) return LineKind::kListStart;
  if (std::strcmp(text, "LISTEND") == 0) return LineKind::kListEnd;
  return LineKind::kValue;
}

// The next at most `want` bytes of a DATA block: straight from the reader's
// buffer where it has one, else through a piece of kDataPiece bytes made on
// first use. Returns how many; 0 at the end of the data.
size_t NextPiece(CMyStream& reader, size_t want, const uint8_t** bytes, uint8_t** piece) {
  size_t got = 0;
  if (reader.ReadSpan(bytes, want, &got)) return got;
  if (!*piece) *piece = static_cast<uint8_t*>(std::malloc(kDataPiece));
  *bytes = *piece;
  return *piece ? reader.ReadBuffered(*piece, want) : 0;
}

// The progress of a DATA block: received * 100 / size, at most 100.
int Percent(uint64_t received, uint64_t size) {
  unsigned __int128 p = static_cast<unsigned __int128>(received) * 100u / size;
  return p > 100 ? 100 : static_cast<int>(p);
}

}  // namespace

// ---- value types ----

bool CParamTraits<bool>::Parse(const char* text, bool* value) {
  *value = AsciiEqualsNoCase(text, "yes");
  return true;
}
const char* CParamTraits<bool>::Format(bool value, char*, size_t) { return value ? "yes" : "no"; }

bool CParamTraits<int32_t>::Parse(const char* text, int32_t* value) {
  return ParseDecimal(text, true, value);
}
const char* CParamTraits<int32_t>::Format(int32_t value, char* buffer, size_t size) {
  uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(value))
                                 : static_cast<uint64_t>(value);
  return FormatUnsigned(magnitude, value < 0, buffer, size);
}

bool CParamTraits<uint8_t>::Parse(const char* text, uint8_t* value) {
  return ParseDecimal(text, false, value);
}
const char* CParamTraits<uint8_t>::Format(uint8_t value, char* buffer, size_t size) {
  return FormatUnsigned(value, false, buffer, size);
}

bool CParamTraits<uint32_t>::Parse(const char* text, uint32_t* value) {
  return ParseDecimal(text, false, value);
}
const char* CParamTraits<uint32_t>::Format(uint32_t value, char* buffer, size_t size) {
  return FormatUnsigned(value, false, buffer, size);
}

bool CParamTraits<uint64_t>::Parse(const char* text, uint64_t* value) {
  return ParseDecimal(text, false, value);
}
const char* CParamTraits<uint64_t>::Format(uint64_t value, char* buffer, size_t size) {
  return FormatUnsigned(value, false, buffer, size);
}

// ---- parameters ----

bool CNamedParam::WriteLine(CMyStream& out, const char* text) const {
  size_t nameLength = std::strlen(name_);
  if (nameLength && (!WriteLineText(out, name_, nameLength) || !out.PutChar(':'))) return false;
  return WriteLineText(out, text, std::strlen(text)) && out.PutChar('\n');
}

CBinaryParam::CBinaryParam(CMyStream* external) : stream_(external ? external : &own_) {}

void CBinaryParam::Reset() {
  stream_->Sync();
  stream_->Seek(0, nullptr, 0);
  stream_->Truncate();
}

bool CBinaryParam::WriteTo(CMyStream& out) {
  if (!stream_->Sync()) return false;
  int64_t size = stream_->GetSize();
  if (size < 0 || !stream_->Seek(0, nullptr, 0)) return false;
  char line[40];
  int n = FormatToBuffer(line, sizeof line, "DATA %llu\n", static_cast<unsigned long long>(size));
  if (!WriteText(out, line, static_cast<size_t>(n))) return false;
  return CMyStream::CopyStream(*stream_, out, static_cast<uint64_t>(size)) ==
         static_cast<uint64_t>(size);
}

bool CBinaryParam::ReadFrom(CParameterStore& store) {
  stream_->Sync();
  stream_->Seek(0, nullptr, 0);
  CMyStream* source = store.NextStream();
  bool ok = false;
  if (source && source->Sync() && source->Seek(0, nullptr, 0)) {
    int64_t size = source->GetSize();
    ok = size >= 0 && CMyStream::CopyStream(*source, *stream_, CMyStream::kAll) ==
                          static_cast<uint64_t>(size);
  }
  stream_->Sync();
  stream_->Truncate();
  stream_->Seek(0, nullptr, 0);
  return ok;
}

bool CBinaryParam::SetBytes(const void* data, size_t length) {
  Reset();
  bool ok = WriteBytes(*stream_, data, length) && stream_->Sync();
  stream_->Seek(0, nullptr, 0);
  return ok;
}

// ---- the parsed block ----

CParameterStore::CParameterStore() : values_(CMyHashTable::kMinBuckets, /*exactCase=*/false) {
  values_.Core().SetOptions(CMyHashTable::kGrow | CMyHashTable::kSecretHash);
}

CParameterStore::~CParameterStore() { Clear(); }

void CParameterStore::Clear() {
  for (CMyPtrListNode* n = arrivals_.Head(); n; n = n->next)
    std::free(static_cast<CMyHashEntry*>(n->data)->value);
  arrivals_.Clear();
  // A table that grew goes back to its first size: a store that once held
  // many names does not walk their buckets again at every clear.
  CMyHashTable& table = values_.Core();
  if (table.BucketCount() > CMyHashTable::kMinBuckets)
    table.Init(CMyHashTable::kMinBuckets, /*exactCase=*/false);
  else
    table.Clear();
  lists_.Clear();
  streams_.Clear();
  cursorNode_ = nullptr;
  cursor_ = 0;
}

void CParameterStore::DropStreams() {
  streams_.Clear();
  cursorNode_ = nullptr;
  cursor_ = 0;
  for (CMyPtrListNode* n = lists_.Head(); n; n = n->next)
    CMyPtrListT<CParameterStore>::DataOf(n)->DropStreams();
}

bool CParameterStore::SetValue(const char* name, const char* value) {
  if (!name || !*name) return false;
  char* copy = CopyText(value ? value : "", value ? std::strlen(value) : 0);
  if (!copy) return false;
  CMyHashTable& table = values_.Core();
  if (CMyHashEntry* e = table.Lookup(name)) {
    // The entry keeps its place in the arrival order; only the value changes.
    std::free(e->value);
    e->value = copy;
    return true;
  }
  CMyHashEntry* e = table.Put(name, copy, 0);
  if (!e) {
    std::free(copy);
    return false;
  }
  if (!arrivals_.AddTail(e)) {
    table.Delete(name);
    std::free(copy);
    return false;
  }
  return true;
}

const char* CParameterStore::FindValue(const char* name) const {
  if (!name) return nullptr;
  CMyHashEntry* e = values_.Core().Lookup(name);
  return e ? static_cast<const char*>(e->value) : nullptr;
}

const char* CParameterStore::NameOf(const CMyPtrListNode* node) {
  return static_cast<const CMyHashEntry*>(node->data)->KeyText();
}

const char* CParameterStore::ValueOf(const CMyPtrListNode* node) {
  return static_cast<const char*>(static_cast<const CMyHashEntry*>(node->data)->value);
}

CParameterStore* CParameterStore::AddListItem() {
  auto* item = new (std::nothrow) CParameterStore();
  if (!item) return nullptr;
  if (!lists_.AddTail(item)) {
    delete item;
    return nullptr;
  }
  return item;
}

CParameterStore* CParameterStore::ListItem(size_t index) const {
  CMyPtrListNode* n = lists_.Head();
  for (; n && index; --index) n = n->next;
  return n ? CMyPtrListT<CParameterStore>::DataOf(n) : nullptr;
}

bool CParameterStore::AddStream(CMyStream* stream) {
  if (!stream || !streams_.AddTail(stream)) return false;
  if (!cursorNode_ && cursor_ == streams_.Count() - 1) cursorNode_ = streams_.Tail();
  return true;
}

CMyStream* CParameterStore::StreamAt(size_t index) const {
  CMyPtrListNode* n = streams_.Head();
  for (; n && index; --index) n = n->next;
  return n ? CMyPtrListT<CMyStream>::DataOf(n) : nullptr;
}

CMyStream* CParameterStore::NextStream() {
  if (!cursorNode_) return nullptr;
  CMyStream* stream = CMyPtrListT<CMyStream>::DataOf(cursorNode_);
  cursorNode_ = cursorNode_->next;
  ++cursor_;
  return stream;
}

// ---- the parameter list ----

CCommandParams::~CCommandParams() { std::free(piece_); }

void CCommandParams::ResetAll() {
  for (CMyPtrListNode* n = params_.Head(); n; n = n->next) ParamOf(n)->Reset();
}

void CCommandParams::DescribeAll(CMyStringA& text) {
  for (CMyPtrListNode* n = params_.Head(); n; n = n->next) {
    if (n != params_.Head()) text.Append("\n");
    ParamOf(n)->Describe(text);
  }
}

bool CCommandParams::WriteBlock(CMyStream& writer) {
  for (CMyPtrListNode* n = params_.Head(); n; n = n->next)
    if (!ParamOf(n)->WriteTo(writer)) return false;
  return true;
}

void CCommandParams::SetSpillDirectory(const WChar* directory) {
  static const WChar kNone[1] = {0};
  spillDirectory_.Assign(directory ? directory : kNone);
}

bool CCommandParams::ReadBlock(CMyStream& reader) {
  store_.Clear();
  bool dataRefused = false;
  bool ok = ParseBlock(reader, &dataRefused);
  // Nothing of a refused block stays in memory or in the temporary folder.
  if (dataRefused) store_.DropStreams();
  for (CMyPtrListNode* n = params_.Head(); n; n = n->next) ParamOf(n)->ReadFrom(store_);
  return ok;
}

bool CCommandParams::ParseBlock(CMyStream& reader, bool* dataRefused) {
  CParameterStore* current = &store_;
  size_t dataBlocks = 0, listItems = 0, values = 0, valueBytes = 0;
  DataBudget budget{limits_.dataBytes, limits_.dataMemory};
  for (;;) {
    if (ReadWireLine(reader, line_, kMaxParamLine) != LineResult::kLine) return false;
    char* text = line_.data;
    size_t length = line_.length;
    switch (KindOf(text, length)) {
      case LineKind::kEnd:
        return current == &store_;
      case LineKind::kData:
        if (++dataBlocks > limits_.dataBlocks) return false;
        if (!ReadData(reader, text + 5, *current, budget, dataRefused)) return false;
        continue;
      case LineKind::kListStart:
        if (current != &store_ || ++listItems > limits_.listItems) return false;
        current = store_.AddListItem();
        if (!current) return false;
        continue;
      case LineKind::kListEnd:
        if (current == &store_) return false;
        current = &store_;
        continue;
      case LineKind::kValue:
        break;
    }
    char* colon = static_cast<char*>(std::memchr(text, ':', length));
    const char* value = "";
    if (colon) {
      *colon = '\0';
      value = colon + 1;
    }
    if (!*text) continue;  // no name
    valueBytes += length;
    if (++values > limits_.values || valueBytes > limits_.valueBytes) return false;
    if (!current->SetValue(text, value)) return false;
  }
}

bool CCommandParams::ReadData(CMyStream& reader, const char* sizeText, CParameterStore& target,
                              DataBudget& budget, bool* refused) {
  uint64_t size = DataSize(sizeText);
  if (size > budget.bytes) {
    *refused = true;
    return false;
  }
  budget.bytes -= size;
  uint64_t threshold = limits_.memoryThreshold;
  uint64_t inMemory = size < threshold ? size : threshold;
  // Past the memory share the block goes to a file from its first byte.
  bool toFile = inMemory > budget.memory;
  if (!toFile) budget.memory -= inMemory;
  auto* stream = new (std::nothrow) CMyStreamMixed(spillDirectory_.GetString(), threshold);
  if (!stream || !stream->IsOpen() || (toFile && size && !stream->SwitchToFile())) {
    delete stream;
    return false;
  }
  bool ok = true;
  uint64_t chunk = size / 100 > kMinDataChunk ? size / 100 : kMinDataChunk;
  uint64_t received = 0;
  while (ok && received < size) {
    uint64_t end = size - received > chunk ? received + chunk : size;
    while (ok && received < end) {
      size_t want = end - received > kDataPiece ? kDataPiece : static_cast<size_t>(end - received);
      const uint8_t* bytes = nullptr;
      size_t got = NextPiece(reader, want, &bytes, &piece_);
      ok = got > 0 && stream->WriteBuffered(bytes, got) == got;
      received += got;
    }
    if (ok) Fire(CBinaryDownloadProgressEvent{Percent(received, size)});
  }
  // The finished stream gives its buffer back: a block may hold many.
  ok = ok && stream->SetBuffering(0, 0, 0) && stream->Seek(0, nullptr, 0) && target.AddStream(stream);
  if (!ok) delete stream;
  return ok;
}

bool DrainBlock(CMyStream& reader, CMyLineBuffer& line, const CBlockLimits& limits) {
  bool inList = false;
  bool rest = false;  // the line read is the rest of an over-long one
  uint64_t dataLeft = limits.dataBytes;
  uint8_t* piece = nullptr;
  bool ok = false;
  for (bool done = false; !done;) {
    LineResult r = ReadWireLine(reader, line, kMaxParamLine);
    if (r == LineResult::kTooLong || (r == LineResult::kLine && rest)) {
      rest = r == LineResult::kTooLong;
      continue;
    }
    if (r != LineResult::kLine) break;
    switch (KindOf(line.data, line.length)) {
      case LineKind::kEnd:
        ok = !inList;
        done = true;
        break;
      case LineKind::kData: {
        uint64_t size = DataSize(line.data + 5);
        if (size > dataLeft) {
          done = true;
          break;
        }
        dataLeft -= size;
        for (const uint8_t* bytes; size > 0;) {
          size_t got = NextPiece(reader, size > kDataPiece ? kDataPiece : static_cast<size_t>(size),
                                 &bytes, &piece);
          if (!got) break;
          size -= got;
        }
        done = size > 0;
        break;
      }
      case LineKind::kListStart:
        done = inList;  // lists do not nest
        inList = true;
        break;
      case LineKind::kListEnd:
        done = !inList;
        inList = false;
        break;
      case LineKind::kValue:
        break;
    }
  }
  std::free(piece);
  return ok;
}

}  // namespace commands
}  // namespace tarvixlib
