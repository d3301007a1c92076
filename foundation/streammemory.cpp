// Memory streams: the chunked CMyStreamBuf and the caller's block.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/mystream.h"

namespace tarvixlib {

namespace {

constexpr size_t kInitialSlots = 256;  // chunk pointers reserved past the first chunk
constexpr size_t kSlotGrowth = 16;
constexpr size_t kFirstChunk = 256;  // the first chunk's first size

// Clamps a seek target to 0..size.
int64_t ClampedTarget(int64_t offset, int origin, uint64_t pos, uint64_t size, bool* ok) {
  *ok = true;
  int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(pos)
                               : origin == 2   ? static_cast<int64_t>(size)
                                               : (*ok = false, 0);
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) target = offset < 0 ? 0 : INT64_MAX;
  if (target < 0) target = 0;
  if (static_cast<uint64_t>(target) > size) target = static_cast<int64_t>(size);
  return target;
}

}  // namespace

// ---- CMyStreamBuf ----

CMyStreamBuf::CMyStreamBuf(size_t chunkSize, uint64_t maxSize)
    : chunkSize_(chunkSize ? chunkSize : 32768), maxSize_(maxSize) {}

CMyStreamBuf::~CMyStreamBuf() {
  for (size_t i = 0; i < chunkCount_; ++i) std::free(chunks_[i]);
  if (chunks_ != &firstSlot_) std::free(chunks_);
}

bool CMyStreamBuf::EnsureChunks(size_t count, size_t firstBytes) {
  if (count > 1) firstBytes = chunkSize_;
  while (chunkCount_ < count) {
    if (chunkCount_ == chunkSlots_) {
      // The first chunk has a slot inside the stream; the second reserves
      // the full list: a small stream allocates nothing but its data.
      if (chunkSlots_ == 0) {
        chunks_ = &firstSlot_;
        chunkSlots_ = 1;
      } else {
        size_t slots = chunkSlots_ < kInitialSlots ? kInitialSlots : chunkSlots_ + kSlotGrowth;
        bool inside = chunks_ == &firstSlot_;
        auto** grown = static_cast<uint8_t**>(
            std::realloc(inside ? nullptr : chunks_, slots * sizeof(uint8_t*)));
        if (!grown) return false;
        if (inside) grown[0] = firstSlot_;
        chunks_ = grown;
        chunkSlots_ = slots;
      }
    }
    size_t size = chunkCount_ ? chunkSize_ : FirstChunkSize(0, firstBytes);
    uint8_t* chunk = static_cast<uint8_t*>(std::malloc(size));
    if (!chunk) return false;
    if (chunkCount_ == 0) firstCapacity_ = size;
    chunks_[chunkCount_++] = chunk;
  }
  if (firstBytes > firstCapacity_) {
    size_t size = FirstChunkSize(firstCapacity_, firstBytes);
    auto* grown = static_cast<uint8_t*>(std::realloc(chunks_[0], size));
    if (!grown) return false;
    chunks_[0] = grown;
    firstCapacity_ = size;
  }
  return true;
}

// The first chunk starts small and doubles up to the chunk size: a stream
// of a few bytes holds a few hundred, and what is copied while the chunk
// grows is less than one chunk.
size_t CMyStreamBuf::FirstChunkSize(size_t capacity, size_t needed) const {
  size_t size = capacity ? capacity * 2 : kFirstChunk;
  if (size < needed) size = needed;
  return size < chunkSize_ ? size : chunkSize_;
}

size_t CMyStreamBuf::Read(void* buffer, size_t length) {
  if (pos_ >= size_) return 0;
  uint64_t left = size_ - pos_;
  if (length > left) length = static_cast<size_t>(left);
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    size_t index = static_cast<size_t>(pos_ / chunkSize_);
    size_t offset = static_cast<size_t>(pos_ % chunkSize_);
    size_t piece = chunkSize_ - offset;
    if (piece > length - done) piece = length - done;
    std::memcpy(out + done, chunks_[index] + offset, piece);
    done += piece;
    pos_ += piece;
  }
  return done;
}

size_t CMyStreamBuf::Write(const void* data, size_t length) {
  if (pos_ >= maxSize_) return 0;
  if (length > maxSize_ - pos_) length = static_cast<size_t>(maxSize_ - pos_);
  const auto* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    size_t index = static_cast<size_t>(pos_ / chunkSize_);
    size_t offset = static_cast<size_t>(pos_ % chunkSize_);
    size_t piece = chunkSize_ - offset;
    if (piece > length - done) piece = length - done;
    if (!EnsureChunks(index + 1, offset + piece)) break;  // out of memory: a short write
    std::memcpy(chunks_[index] + offset, in + done, piece);
    done += piece;
    pos_ += piece;
  }
  if (pos_ > size_) size_ = pos_;
  return done;
}

bool CMyStreamBuf::ReadDirect(const uint8_t** data, size_t max, size_t* length) {
  *length = 0;
  if (pos_ < size_) {
    size_t offset = static_cast<size_t>(pos_ % chunkSize_);
    size_t n = chunkSize_ - offset;
    if (n > size_ - pos_) n = static_cast<size_t>(size_ - pos_);
    if (n > max) n = max;
    *data = chunks_[pos_ / chunkSize_] + offset;
    *length = n;
    pos_ += n;
  }
  return true;
}

bool CMyStreamBuf::Truncate() {
  size_ = pos_;
  // Chunks wholly beyond the new end are given back.
  size_t needed = static_cast<size_t>((size_ + chunkSize_ - 1) / chunkSize_);
  while (chunkCount_ > needed) std::free(chunks_[--chunkCount_]);
  if (!chunkCount_) firstCapacity_ = 0;
  return true;
}

bool CMyStreamBuf::Seek(int64_t offset, int64_t* newPosition, int origin) {
  bool ok;
  int64_t target = ClampedTarget(offset, origin, pos_, size_, &ok);
  if (!ok) return false;
  pos_ = static_cast<uint64_t>(target);
  if (newPosition) *newPosition = target;
  return true;
}

bool CMyStreamBuf::GetRange(uint64_t offset, const void** data, size_t length, bool* owned) {
  *data = nullptr;
  *owned = false;
  if (!Sync()) return false;
  if (offset > size_ || length > size_ - offset) return false;
  size_t first = static_cast<size_t>(offset / chunkSize_);
  size_t last = length ? static_cast<size_t>((offset + length - 1) / chunkSize_) : first;
  if (first == last && first < chunkCount_) {
    *data = chunks_[first] + offset % chunkSize_;
    return true;
  }
  return CMyStream::GetRange(offset, data, length, owned);
}

// ---- CMyStreamStaticBuffer ----

CMyStreamStaticBuffer::CMyStreamStaticBuffer(void* block, size_t capacity, size_t size, int mode)
    : block_(static_cast<uint8_t*>(block)),
      capacity_(block ? capacity : 0),
      size_(size < capacity_ ? size : capacity_),
      mode_(mode) {}

size_t CMyStreamStaticBuffer::Read(void* buffer, size_t length) {
  if (!block_ || pos_ >= size_) return 0;
  if (length > size_ - pos_) length = size_ - pos_;
  std::memcpy(buffer, block_ + pos_, length);
  pos_ += length;
  return length;
}

size_t CMyStreamStaticBuffer::Write(const void* data, size_t length) {
  if (!block_ || mode_ == 0 || pos_ >= capacity_) return 0;
  if (length > capacity_ - pos_) length = capacity_ - pos_;
  std::memcpy(block_ + pos_, data, length);
  pos_ += length;
  if (pos_ > size_) size_ = pos_;
  return length;
}

bool CMyStreamStaticBuffer::ReadDirect(const uint8_t** data, size_t max, size_t* length) {
  *length = 0;
  if (!block_) return false;
  size_t n = pos_ < size_ ? size_ - pos_ : 0;
  if (n > max) n = max;
  *data = block_ + pos_;
  *length = n;
  pos_ += n;
  return true;
}

bool CMyStreamStaticBuffer::Truncate() {
  if (!block_ || mode_ == 0) return false;
  size_ = pos_;
  return true;
}

bool CMyStreamStaticBuffer::Seek(int64_t offset, int64_t* newPosition, int origin) {
  bool ok;
  int64_t target = ClampedTarget(offset, origin, pos_, size_, &ok);
  if (!ok) return false;
  pos_ = static_cast<size_t>(target);
  if (newPosition) *newPosition = target;
  return true;
}

bool CMyStreamStaticBuffer::GetRange(uint64_t offset, const void** data, size_t length,
                                     bool* owned) {
  *data = nullptr;
  *owned = false;
  if (!block_ || !Sync() || offset > size_ || length > size_ - offset) return false;
  *data = block_ + offset;
  return true;
}

}  // namespace tarvixlib
