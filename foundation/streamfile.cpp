// File streams: the handle stream, the named file with temporary-file
// creation, and the mixed memory/file stream.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/asciitext.h"
#include "foundation/mystream.h"

namespace tarvixlib {

// ---- CMyStreamHandle ----

CMyStreamHandle::CMyStreamHandle(platform::FileHandle file, uint32_t flags)
    : file_(file), flags_(flags) {}

CMyStreamHandle::~CMyStreamHandle() { CMyStreamHandle::Close(); }

size_t CMyStreamHandle::Read(void* buffer, size_t length) {
  size_t got = 0;
  if (!IsOpen() || !platform::ReadFileBytes(file_, buffer, length, &got)) return 0;
  return got;
}

size_t CMyStreamHandle::Write(const void* data, size_t length) {
  size_t written = 0;
  if (!IsOpen()) return 0;
  platform::WriteFileBytes(file_, data, length, &written);
  return written;
}

bool CMyStreamHandle::Truncate() { return IsOpen() && platform::SetEndOfFileHere(file_); }

bool CMyStreamHandle::Seek(int64_t offset, int64_t* newPosition, int origin) {
  return IsOpen() && platform::SeekFile(file_, offset, origin, newPosition);
}

bool CMyStreamHandle::Close() {
  if (!IsOpen()) return true;
  bool ok = Sync();
  if (!(flags_ & kBorrowed)) ok = platform::CloseFile(file_) && ok;
  file_ = platform::InvalidFileHandle();
  return ok;
}

void CMyStreamHandle::Attach(platform::FileHandle file, uint32_t flags) {
  Close();
  file_ = file;
  flags_ = flags;
}

// ---- temporary file names ----

uint32_t NextTempFileNumber() {
  static std::atomic<uint32_t> counter{0};
  return counter.fetch_add(1);
}

namespace {

// Creates each missing directory of the chain, parents first. Failures are
// left to the retried file creation to report.
void CreateDirectoryChain(const WChar* directory) {
  WChar path[CMyStreamFile::kMaxPath];
  size_t n = 0;
  for (const WChar* p = directory; *p && n + 1 < CMyStreamFile::kMaxPath; ++p) {
    if ((*p == '\\' || *p == '/') && n > 0) {
      path[n] = 0;
      platform::CreateOneDirectory(path);
    }
    path[n++] = *p;
  }
  path[n] = 0;
  if (n > 0 && path[n - 1] != '\\' && path[n - 1] != '/') platform::CreateOneDirectory(path);
}

// directory + separator + eight hex digits + "." + extension, or false when
// it does not fit kMaxPath characters.
bool BuildTempName(WChar* name, const WChar* directory, const WChar* extension, uint32_t number) {
  size_t n = 0;
  const size_t cap = CMyStreamFile::kMaxPath;
  auto put = [&](WChar c) {
    if (n + 1 >= cap) return false;
    name[n++] = c;
    return true;
  };
  for (const WChar* p = directory; p && *p; ++p)
    if (!put(*p)) return false;
  if (n > 0 && name[n - 1] != '\\' && name[n - 1] != '/' && !put('\\')) return false;
  for (int shift = 28; shift >= 0; shift -= 4)
    if (!put(static_cast<WChar>(HexDigitUpper(number >> shift)))) return false;
  if (!put('.')) return false;
  for (const WChar* p = extension; p && *p; ++p)
    if (!put(*p)) return false;
  name[n] = 0;
  return true;
}

}  // namespace

// ---- CMyStreamT<WChar, CMyStreamHandle> ----

CMyStreamT<WChar, CMyStreamHandle>::~CMyStreamT() { CMyStreamT::Close(); }

bool CMyStreamFile::Close() {
  bool wasOpen = IsOpen();
  bool ok = CMyStreamHandle::Close();
  if (wasOpen && (flags_ & kDeleteOnClose) && !name_.IsEmpty())
    ok = platform::DeleteFileAt(name_.GetString()) && ok;
  return ok;
}

bool CMyStreamFile::SetName(const char* name) {
  if (!name || !*name) {
    name_.Empty();
    return true;
  }
  return name_.AssignWideFromAnsi(name);
}

bool CMyStreamFile::SetName(const WChar* name) {
  name_.Assign(name);
  return (name && *name) ? !name_.IsEmpty() : true;
}

bool CMyStreamFile::Open(const WChar* name, platform::FileOpenMode mode, uint32_t flags) {
  platform::FileHandle file = platform::OpenFileAt(name, mode);
  if (!platform::IsValidFile(file)) return false;
  Attach(file, flags);
  SetName(name);
  return true;
}

bool CMyStreamFile::CreateTempFile(const WChar* directory, const WChar* extension,
                                   uint32_t flags) {
  WChar name[kMaxPath];
  bool chainCreated = false;
  // Names that exist are skipped; the bound only keeps a broken file system
  // from looping for ever.
  for (int attempt = 0; attempt < 100000; ++attempt) {
    if (!BuildTempName(name, directory, extension, NextTempFileNumber())) return false;
    platform::FileHandle file;
    platform::CreateResult r = platform::CreateNewTempFile(name, &file);
    if (r == platform::CreateResult::kPathNotFound && !chainCreated && directory && *directory) {
      chainCreated = true;
      CreateDirectoryChain(directory);
      r = platform::CreateNewTempFile(name, &file);
    }
    if (r == platform::CreateResult::kCreated) {
      Attach(file, flags);
      if (!SetName(name)) {
        // Without its name the file could not be deleted later.
        flags_ &= ~kDeleteOnClose;
        Close();
        platform::DeleteFileAt(name);
        return false;
      }
      return true;
    }
    if (r != platform::CreateResult::kExists) return false;
  }
  return false;
}

// ---- CMyStreamMixed ----

CMyStreamMixed::CMyStreamMixed(const WChar* tempDirectory, uint64_t threshold, uint64_t maxTotal)
    : memory_(kChunkSize, threshold), threshold_(threshold), maxTotal_(maxTotal) {
  directory_.Assign(tempDirectory);
}

CMyStreamMixed::CMyStreamMixed(const char* tempDirectory, uint64_t threshold, uint64_t maxTotal)
    : memory_(kChunkSize, threshold), threshold_(threshold), maxTotal_(maxTotal) {
  if (tempDirectory && *tempDirectory) directory_.AssignWideFromAnsi(tempDirectory);
}

CMyStreamMixed::~CMyStreamMixed() {
  if (inner_ != &memory_) delete inner_;
}

const WChar* CMyStreamMixed::FileName() const {
  static const WChar kNone[1] = {0};
  return inMemory_ ? kNone : static_cast<CMyStreamFile*>(inner_)->Name();
}

bool CMyStreamMixed::SwitchToFile() {
  if (!inMemory_) return false;
  static const WChar kExtension[] = {'t', 'm', 'p', 0};
  // The system's folder is looked up when the first file is made.
  if (directory_.IsEmpty()) {
    WChar temp[CMyStreamFile::kMaxPath];
    if (platform::GetTempDirectory(temp, CMyStreamFile::kMaxPath)) directory_.Assign(temp);
  }
  auto* file = new (std::nothrow) CMyStreamFile;
  if (!file) return false;
  if (!file->CreateTempFile(directory_.GetString(), kExtension, CMyStreamFile::kDeleteOnClose)) {
    delete file;
    return false;
  }
  uint64_t position = memory_.Position();
  uint64_t size = memory_.Size();
  bool ok = memory_.Seek(0, nullptr, 0) && CopyStream(memory_, *file, size) == size;
  if (ok && position != size) ok = file->Seek(static_cast<int64_t>(position), nullptr, 0);
  if (!ok) {
    memory_.Seek(static_cast<int64_t>(position), nullptr, 0);
    delete file;  // closes and deletes the temporary file
    return false;
  }
  // The memory gives its chunks back.
  memory_.Seek(0, nullptr, 0);
  memory_.Truncate();
  inner_ = file;
  inMemory_ = false;
  if (!GetBufferingFlags()) SetBuffering(kReadBuffer | kSharedBuffer, kFileBuffer, kFileBuffer);
  byteCount_ = position;
  return true;
}

size_t CMyStreamMixed::Write(const void* data, size_t length) {
  if (inMemory_) {
    if (memory_.Position() + length <= threshold_) return memory_.Write(data, length);
    if (!SwitchToFile()) return 0;
  }
  if (maxTotal_ && (byteCount_ + length > maxTotal_ || byteCount_ + length < byteCount_)) {
    overflow_ = true;
    return 0;
  }
  size_t n = inner_->Write(data, length);
  byteCount_ += n;
  return n;
}

size_t CMyStreamMixed::Read(void* buffer, size_t length) {
  size_t n = inner_->Read(buffer, length);
  if (!inMemory_) byteCount_ += n;
  return n;
}

bool CMyStreamMixed::ReadDirect(const uint8_t** data, size_t max, size_t* length) {
  // Only the memory side has bytes to point at; a file is read into the
  // buffer as usual.
  return inMemory_ && memory_.ReadSpan(data, max, length);
}

bool CMyStreamMixed::Seek(int64_t offset, int64_t* newPosition, int origin) {
  int64_t position = 0;
  if (!inner_->Seek(offset, &position, origin)) return false;
  if (!inMemory_) byteCount_ = static_cast<uint64_t>(position);
  if (newPosition) *newPosition = position;
  return true;
}

bool CMyStreamMixed::Truncate() { return inner_->Truncate(); }
bool CMyStreamMixed::Flush() { return FlushWriteBuffer() >= 0 && inner_->Flush(); }
bool CMyStreamMixed::IsOpen() const { return inner_->IsOpen(); }

bool CMyStreamMixed::GetRange(uint64_t offset, const void** data, size_t length, bool* owned) {
  *data = nullptr;
  *owned = false;
  return Sync() && inner_->GetRange(offset, data, length, owned);
}

}  // namespace tarvixlib
