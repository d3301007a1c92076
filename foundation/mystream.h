// The stream family: the library's one abstraction for byte data.
//
// A concrete stream supplies the primitives (Read, Write, Truncate, Seek,
// IsOpen); the base adds optional buffering, line reading, searching and
// checksums on top. The primitives are unbuffered; the *Buffered functions,
// ReadByte, PutChar, ReadLine and FindString go through the buffers.
//
// Buffering flags: kReadBuffer (1), kWriteBuffer (2), kSharedBuffer (4: one
// buffer for both directions). With separate buffers the directions are
// independent (pipes); on a seekable stream call Sync (or SeekBuffered)
// between reading and writing. A shared buffer switches direction itself.
//
// Failures are reported as 0 bytes, false or -1; the stream stays usable.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "foundation/mystring.h"
#include "foundation/platform.h"
#include "foundation/seqwrite.h"

namespace tarvixlib {

// One buffer block: the header, followed by `capacity` bytes of data.
struct CMyStreamBuffer {
  uint8_t dirty;    // write buffer: holds data not yet written
  size_t pos;       // read buffer: next unread byte
  size_t valid;     // bytes of data held
  size_t capacity;
  uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
};

// A growable line for ReadLineAlloc; always zero-terminated once used.
struct CMyLineBuffer {
  char* data = nullptr;
  size_t length = 0;
  size_t capacity = 0;
  CMyLineBuffer() = default;
  ~CMyLineBuffer();
  CMyLineBuffer(const CMyLineBuffer&) = delete;
  CMyLineBuffer& operator=(const CMyLineBuffer&) = delete;
  const char* Text() const { return data ? data : ""; }
};

class CMyStream {
public:
  enum : uint32_t { kReadBuffer = 1, kWriteBuffer = 2, kSharedBuffer = 4 };
  static constexpr uint64_t kAll = ~static_cast<uint64_t>(0);  // CopyStream: to the end

  CMyStream() = default;
  CMyStream(const CMyStream&) = delete;
  CMyStream& operator=(const CMyStream&) = delete;

  // ---- primitives, in slot order ----
  // Bytes read; 0 at the end or on error.
  virtual size_t Read(void* buffer, size_t length) = 0;
  // Bytes written; fewer than asked means the stream refuses more.
  virtual size_t Write(const void* data, size_t length) = 0;
  // Makes the current position the end.
  virtual bool Truncate() = 0;
  // origin: 0 begin, 1 current, 2 end. newPosition may be null.
  virtual bool Seek(int64_t offset, int64_t* newPosition, int origin) = 0;
  virtual bool Flush() { return true; }
  virtual bool IsOpen() const = 0;
  // Releases the buffers. Pending buffered writes are not written here:
  // concrete streams flush in their own destructor or Close where that
  // matters.
  virtual ~CMyStream();
  // POSIX cksum over the whole content (position kept); length may be null.
  virtual uint32_t Checksum(uint64_t* length);
  // CRC-32 (IEEE 802.3, reflected) over the whole content, started from all
  // ones and returned without the final inversion.
  virtual uint32_t Crc32();
  // Reads at most size - 1 bytes of one line (CR dropped, ends at LF). Unless
  // singleLine, and when there is a read buffer to look ahead in, an LF
  // followed by a space or tab is a folded continuation: the LF is dropped
  // and the line goes on. Returns the length, -1 at the end with nothing read.
  virtual int ReadLine(char* buffer, bool singleLine, size_t size);
  // Hands out `length` bytes from `offset`: a pointer into the stream's own
  // storage (owned false) or a malloc'ed copy the caller frees (owned true).
  // False when the range is not all there.
  virtual bool GetRange(uint64_t offset, const void** data, size_t length, bool* owned);

  // ---- buffered access ----
  // From the read buffer; a request at least as large as the buffer goes
  // straight to Read, a smaller one refills the buffer once. May return less.
  size_t ReadBuffered(void* buffer, size_t length);
  // All of it or false.
  bool ReadExact(void* buffer, size_t length);
  // Reading without a copy: points *data at the next bytes where the stream
  // already holds them (its read buffer, refilled when empty, or a memory
  // stream's own storage), at most `max` of them, and moves past them.
  // *length 0 at the end. False, with nothing consumed, when the stream has
  // no such memory: read into a buffer of your own then. The bytes stay
  // valid until the stream is next used.
  bool ReadSpan(const uint8_t** data, size_t max, size_t* length);
  // The next byte, or -1 at the end.
  int ReadByte() {
    CMyStreamBuffer* b = readBuf_;
    if (b && !b->dirty && b->pos < b->valid) return b->Data()[b->pos++];
    return ReadByteSlow();
  }
  // Appends to the write buffer, writing it out when full (data at least as
  // large as an empty buffer goes straight through). Returns the bytes taken:
  // all of them, or fewer when the stream refused data; bytes taken into the
  // buffer stay there for the next flush.
  size_t WriteBuffered(const void* data, size_t length);
  bool PutChar(int byte) {
    CMyStreamBuffer* b = writeBuf_;
    if (b && b->valid < b->capacity && (b->dirty || b->valid == 0)) {
      b->Data()[b->valid++] = static_cast<uint8_t>(byte);
      b->dirty = 1;
      return true;
    }
    uint8_t c = static_cast<uint8_t>(byte);
    return WriteBuffered(&c, 1) == 1;
  }
  // 1 written completely, -1 short (the unwritten rest stays buffered),
  // 0 nothing to write.
  int FlushWriteBuffer();
  // Flushes the write buffer and drops the read buffer, moving the position
  // back over bytes buffered but not yet read.
  bool Sync();
  // New position, or -1. Flushes first; a forward relative seek inside the
  // read buffer only moves the buffer position.
  int64_t SeekBuffered(int64_t offset, int origin);
  // Size of the content (the position is kept), or -1.
  int64_t GetSize();
  // Replaces the buffers (sizes in bytes); carries unread and pending data
  // over, reuses unchanged buffers. False, changing nothing, when a new
  // buffer would be smaller than the data it must hold or memory is short.
  bool SetBuffering(uint32_t flags, size_t readSize, size_t writeSize);
  uint32_t GetBufferingFlags() const { return bufferFlags_; }
  // Forgets buffered data in both directions without reading or writing
  // (a connection that gets a new handle must not replay the old one's
  // bytes). The buffers themselves stay.
  void DiscardBuffers();
  bool TruncateHere();
  // Reads forward past the first occurrence of text, compared without regard
  // to case (a-z and bytes 0xE0.. fold to upper case). True with the position
  // just after the match; false at the end of the stream.
  bool FindString(const char* text);
  // Reads one line into `line` (a new buffer starts at `growth` bytes, at
  // most 256, and grows by `growth` up to `limit` bytes with the
  // terminator). CR dropped. 1: ended by LF; 0: ended by the end of the
  // data; -1: end with nothing read; -2: out of memory; -3: the limit was
  // reached (the rest of the line stays in the stream). A stream that keeps
  // its bytes in memory (ReadSpan without a buffer) lends them; any other
  // stream without a read buffer gets one of 65536 bytes.
  int ReadLineAlloc(CMyLineBuffer& line, size_t limit, size_t growth);
  // Copies up to length bytes (kAll: to the end) from source's position to
  // destination's, straight from the source's memory where it has some
  // (ReadSpan), else in pieces of at most 32768 bytes. Returns bytes written.
  static uint64_t CopyStream(CMyStream& source, CMyStream& destination, uint64_t length);

protected:
  // ReadSpan's unbuffered side: a stream that keeps its content in memory
  // hands out a pointer to it.
  virtual bool ReadDirect(const uint8_t** data, size_t max, size_t* length);
  // The next byte without consuming it (-1 at the end); needs a read buffer.
  int PeekByte();
  // Bytes in the read buffer not yet consumed.
  size_t UnreadBytes() const {
    return readBuf_ && !readBuf_->dirty ? readBuf_->valid - readBuf_->pos : 0;
  }

private:
  int ReadByteSlow();
  // Before reading: a dirty write buffer is written out.
  void PrepareRead();
  // Before writing into a shared buffer that holds read data.
  bool DropReadData();
  void FreeBuffers();

  uint32_t bufferFlags_ = 0;
  CMyStreamBuffer* readBuf_ = nullptr;
  CMyStreamBuffer* writeBuf_ = nullptr;  // == readBuf_ when shared
};

// Memory in a list of equal chunks; writes stop at the maximum size. The
// first chunk grows to its size as data arrives.
class CMyStreamBuf : public CMyStream {
public:
  static constexpr uint64_t kNoMaximum = ~static_cast<uint64_t>(0);
  explicit CMyStreamBuf(size_t chunkSize = 32768, uint64_t maxSize = kNoMaximum);
  ~CMyStreamBuf() override;

  size_t Read(void* buffer, size_t length) override;
  size_t Write(const void* data, size_t length) override;
  bool Truncate() override;
  bool Seek(int64_t offset, int64_t* newPosition, int origin) override;  // clamped to 0..size
  bool IsOpen() const override { return true; }
  bool GetRange(uint64_t offset, const void** data, size_t length, bool* owned) override;

  uint64_t Size() const { return size_; }
  uint64_t Position() const { return pos_; }
  size_t ChunkSize() const { return chunkSize_; }

protected:
  bool ReadDirect(const uint8_t** data, size_t max, size_t* length) override;

private:
  // `count` chunks, the first holding at least firstBytes.
  bool EnsureChunks(size_t count, size_t firstBytes);
  size_t FirstChunkSize(size_t capacity, size_t needed) const;

  uint8_t** chunks_ = nullptr;  // &firstSlot_ while there is one chunk
  uint8_t* firstSlot_ = nullptr;
  size_t chunkCount_ = 0;     // allocated chunks
  size_t firstCapacity_ = 0;  // bytes of the first chunk
  size_t chunkSlots_ = 0;     // entries of chunks_
  size_t chunkSize_;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  uint64_t maxSize_;
};

// A caller's memory block. Mode 0 is read-only; otherwise writes go up to
// the capacity.
class CMyStreamStaticBuffer : public CMyStream {
public:
  CMyStreamStaticBuffer(void* block, size_t capacity, size_t size, int mode);

  size_t Read(void* buffer, size_t length) override;
  size_t Write(const void* data, size_t length) override;
  bool Truncate() override;
  bool Seek(int64_t offset, int64_t* newPosition, int origin) override;  // clamped to 0..size
  bool IsOpen() const override { return block_ != nullptr; }
  bool GetRange(uint64_t offset, const void** data, size_t length, bool* owned) override;

  size_t Size() const { return size_; }

protected:
  bool ReadDirect(const uint8_t** data, size_t max, size_t* length) override;

private:
  uint8_t* block_;
  size_t capacity_;
  size_t size_;
  size_t pos_ = 0;
  int mode_;
};

// An OS file handle; closed when the handle is invalid.
class CMyStreamHandle : public CMyStream {
public:
  enum : uint32_t { kBorrowed = 0x04000000 };  // the handle is not closed by Close

  explicit CMyStreamHandle(platform::FileHandle file = platform::InvalidFileHandle(),
                           uint32_t flags = 0);
  ~CMyStreamHandle() override;

  size_t Read(void* buffer, size_t length) override;
  size_t Write(const void* data, size_t length) override;
  bool Truncate() override;
  bool Seek(int64_t offset, int64_t* newPosition, int origin) override;
  bool IsOpen() const override { return platform::IsValidFile(file_); }
  // Flushes, then closes the handle unless borrowed. True when nothing failed.
  virtual bool Close();

  // Closes any previous handle, then takes this one.
  void Attach(platform::FileHandle file, uint32_t flags);
  platform::FileHandle Handle() const { return file_; }
  uint32_t Flags() const { return flags_; }

protected:
  platform::FileHandle file_;
  uint32_t flags_;
};

// Process-wide counter of temporary file names; every attempt takes the next
// value.
uint32_t NextTempFileNumber();

// A stream of a named file: the base stream plus its file name. Flag
// kDeleteOnClose deletes the file when it is closed.
template <typename CharT, typename Base>
class CMyStreamT;

template <>
class CMyStreamT<WChar, CMyStreamHandle> : public CMyStreamHandle {
public:
  enum : uint32_t { kDeleteOnClose = 0x80000000u };
  static constexpr size_t kMaxPath = 260;

  CMyStreamT() = default;
  ~CMyStreamT() override;

  bool Close() override;
  virtual bool SetName(const char* name);
  virtual bool SetName(const WChar* name);

  // Opens the named file (the name is stored). False when it fails.
  bool Open(const WChar* name, platform::FileOpenMode mode, uint32_t flags = 0);
  // Creates a new temporary file "<directory>\XXXXXXXX.<extension>" (eight
  // hex digits of NextTempFileNumber), creating the directory chain when it
  // is missing and skipping names that exist. False when it cannot.
  bool CreateTempFile(const WChar* directory, const WChar* extension, uint32_t flags);
  const WChar* Name() const { return name_.GetString(); }

private:
  CMyStringW name_;
};
using CMyStreamFile = CMyStreamT<WChar, CMyStreamHandle>;

// Memory up to a threshold, then (transparently) a temporary file that is
// deleted when the stream is destroyed. Unbuffered while in memory; moving
// to the file gives the stream one shared buffer of kFileBuffer bytes
// unless its owner set buffering of its own.
class CMyStreamMixed : public CMyStream {
public:
  static constexpr size_t kChunkSize = 32768;
  static constexpr size_t kFileBuffer = 65536;
  // maxTotal 0: no maximum. An empty directory means the system's temporary
  // directory.
  CMyStreamMixed(const WChar* tempDirectory, uint64_t threshold, uint64_t maxTotal = 0);
  CMyStreamMixed(const char* tempDirectory, uint64_t threshold, uint64_t maxTotal = 0);
  ~CMyStreamMixed() override;

  size_t Read(void* buffer, size_t length) override;
  size_t Write(const void* data, size_t length) override;
  bool Truncate() override;
  bool Seek(int64_t offset, int64_t* newPosition, int origin) override;
  bool Flush() override;
  bool IsOpen() const override;
  bool GetRange(uint64_t offset, const void** data, size_t length, bool* owned) override;
  // Moves the content into a new temporary file; false (still in memory)
  // when the file cannot be created or filled.
  virtual bool SwitchToFile();

  bool IsInMemory() const { return inMemory_; }
  bool HasOverflowed() const { return overflow_; }
  // The temporary file's name once the data lives in a file, else "".
  const WChar* FileName() const;

protected:
  bool ReadDirect(const uint8_t** data, size_t max, size_t* length) override;

private:
  CMyStreamBuf memory_;
  CMyStream* inner_ = &memory_;  // memory_, or the temporary file (owned)
  CMyStringW directory_;
  uint64_t threshold_ = 0;
  uint64_t maxTotal_ = 0;
  uint64_t byteCount_ = 0;  // position in the file
  bool inMemory_ = true;
  bool overflow_ = false;
};

#ifdef _WIN32
// Overlapped I/O on a borrowed handle (pipes): every transfer waits for its
// completion, and for the cancel event when there is one, up to the time-out;
// a time-out or cancel cancels the transfer, which then moves nothing.
class CMyStreamOLWin : public CMyStream {
public:
  CMyStreamOLWin(platform::FileHandle handle, platform::OsHandle cancelEvent, uint32_t timeoutMs);
  ~CMyStreamOLWin() override;

  size_t Read(void* buffer, size_t length) override;
  // Repeats until everything is written or a step writes nothing.
  size_t Write(const void* data, size_t length) override;
  bool Truncate() override { return false; }
  bool Seek(int64_t, int64_t* newPosition, int) override {
    if (newPosition) *newPosition = 0;
    return true;
  }
  bool IsOpen() const override { return platform::IsValidFile(handle_); }

  void SetHandle(platform::FileHandle handle) { handle_ = handle; }
  // cancelFlag: see platform::OverlappedTransfer (null: always ask the event).
  void SetCancelEvent(platform::OsHandle cancelEvent,
                      const std::atomic<bool>* cancelFlag = nullptr) {
    cancelEvent_ = cancelEvent;
    cancelFlag_ = cancelFlag;
  }
  void SetTimeout(uint32_t ms) { timeoutMs_ = ms; }
  uint32_t LastError() const { return lastError_; }

private:
  platform::FileHandle handle_;
  platform::OsHandle cancelEvent_;
  const std::atomic<bool>* cancelFlag_ = nullptr;
  uint32_t timeoutMs_;
  platform::OsHandle ownEvent_;
  uint32_t lastError_ = 0;
};
#endif

// A sequential writer on a stream, through the stream's write buffer.
class CSeqWriteStream : public CSeqWrite {
public:
  explicit CSeqWriteStream(CMyStream& stream) : stream_(stream) {}
  size_t Write(const void* data, size_t length) override {
    return stream_.WriteBuffered(data, length);
  }

private:
  CMyStream& stream_;
};

// The printf engine writing into a stream (through a CSeqWriteStream).
// Returns the characters the stream accepted; the wide forms write UTF-16.
size_t FormatToStream(CMyStream& stream, const char* format, ...);
size_t FormatToStream(CMyStream& stream, const WChar* format, ...);
size_t FormatToStreamV(CMyStream& stream, const char* format, va_list args);
size_t FormatToStreamV(CMyStream& stream, const WChar* format, va_list args);

}  // namespace tarvixlib
