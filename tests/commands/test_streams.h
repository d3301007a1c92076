// Streams for the command tests: a blocking in-memory pipe pair (one
// direction each way, like the two ends of a named pipe), a sink that
// refuses writes after a given number of bytes, and a folder for the
// temporary files of received DATA blocks.
#pragma once

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/mystream.h"
#include "foundation/platform.h"

namespace tarvixlib {
namespace commands {
namespace testing_ {

// One direction: bytes written at one end, read at the other.
struct PipeChannel {
  std::mutex lock;
  std::condition_variable ready;
  std::string bytes;
  size_t pos = 0;
  bool closed = false;
};

// One end of a pipe: reads block until data arrives or the peer closed its
// writing side.
class PipeEnd : public CMyStream {
public:
  PipeEnd(std::shared_ptr<PipeChannel> in, std::shared_ptr<PipeChannel> out)
      : in_(std::move(in)), out_(std::move(out)) {}
  ~PipeEnd() override { CloseWrite(); }

  size_t Read(void* buffer, size_t length) override {
    std::unique_lock<std::mutex> hold(in_->lock);
    in_->ready.wait(hold, [&] { return in_->pos < in_->bytes.size() || in_->closed; });
    size_t n = in_->bytes.size() - in_->pos;
    if (n > length) n = length;
    std::memcpy(buffer, in_->bytes.data() + in_->pos, n);
    in_->pos += n;
    if (in_->pos == in_->bytes.size()) {
      in_->bytes.clear();
      in_->pos = 0;
    }
    return n;
  }
  size_t Write(const void* data, size_t length) override {
    std::lock_guard<std::mutex> hold(out_->lock);
    if (out_->closed) return 0;
    out_->bytes.append(static_cast<const char*>(data), length);
    written_ += length;
    out_->ready.notify_all();
    return length;
  }
  bool Truncate() override { return false; }
  bool Seek(int64_t, int64_t* newPosition, int) override {
    if (newPosition) *newPosition = 0;
    return true;
  }
  bool IsOpen() const override { return true; }

  void CloseWrite() {
    std::lock_guard<std::mutex> hold(out_->lock);
    out_->closed = true;
    out_->ready.notify_all();
  }
  size_t BytesWritten() const { return written_; }

private:
  std::shared_ptr<PipeChannel> in_, out_;
  size_t written_ = 0;
};

struct PipePair {
  std::shared_ptr<PipeChannel> up = std::make_shared<PipeChannel>();
  std::shared_ptr<PipeChannel> down = std::make_shared<PipeChannel>();
  PipeEnd client{down, up};
  PipeEnd server{up, down};
};

// Takes `capacity` bytes, then refuses everything.
class LimitedSink : public CMyStream {
public:
  explicit LimitedSink(size_t capacity) : capacity_(capacity) {}
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* data, size_t length) override {
    size_t n = capacity_ - bytes.size() < length ? capacity_ - bytes.size() : length;
    bytes.append(static_cast<const char*>(data), n);
    return n;
  }
  bool Truncate() override { return false; }
  bool Seek(int64_t, int64_t* newPosition, int) override {
    if (newPosition) *newPosition = 0;
    return true;
  }
  bool IsOpen() const override { return true; }
  std::string bytes;

private:
  size_t capacity_;
};

// A memory stream holding `text`, positioned at its start.
inline std::unique_ptr<CMyStreamBuf> StreamOf(const std::string& text) {
  auto s = std::make_unique<CMyStreamBuf>();
  s->Write(text.data(), text.size());
  s->Seek(0, nullptr, 0);
  return s;
}

// Everything a stream holds, from its start (buffered bytes written first).
inline std::string ContentOf(CMyStream& stream) {
  stream.Sync();
  int64_t position = 0;
  stream.Seek(0, &position, 1);
  stream.Seek(0, nullptr, 0);
  std::string out;
  char piece[4096];
  for (size_t n; (n = stream.Read(piece, sizeof piece)) > 0;) out.append(piece, n);
  stream.Seek(position, nullptr, 0);
  return out;
}

// What a command writes when it is sent against a canned reply.
template <typename Command>
std::string SendAgainst(Command& command, const std::string& reply) {
  auto in = StreamOf(reply);
  CMyStreamBuf out;
  command.Send(*in, out, nullptr);
  return ContentOf(out);
}

// A folder of its own for spilled DATA blocks, removed with its contents.
class SpillFolder {
public:
  SpillFolder() {
    WChar temp[260] = {};
    platform::GetTempDirectory(temp, 260);
    uint32_t tag = 0;
    platform::RandomBytes(&tag, sizeof tag);
    std::string leaf = "tarvix-spill-" + std::to_string(tag) + "/";
    name_ = temp;
    name_.append(leaf.begin(), leaf.end());
    std::filesystem::create_directories(Path());
  }
  ~SpillFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path(), ignored);
  }
  const WChar* Name() const { return name_.c_str(); }
  std::filesystem::path Path() const { return std::filesystem::path(name_); }
  size_t Files() const {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Path())) n += entry.exists();
    return n;
  }

private:
  std::basic_string<WChar> name_;
};

}  // namespace testing_
}  // namespace commands
}  // namespace tarvixlib
