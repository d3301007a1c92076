#include "foundation/mystream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wtext.h"

namespace tarvixlib {
namespace {

namespace fs = std::filesystem;

fs::path ToPath(const WString& w) { return fs::path(w); }

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end.
class ScratchDir {
public:
  ScratchDir() {
    WChar temp[260];
    EXPECT_TRUE(platform::GetTempDirectory(temp, 260));
    static int serial = 0;
    std::string leaf = "tarvix-stream-" + std::to_string(platform::TickCountMs()) + "-" +
                       std::to_string(++serial);
    path_ = WString(temp) + WString(leaf.begin(), leaf.end());
    fs::create_directories(ToPath(path_));
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(ToPath(path_), ec);
  }
  const WString& Path() const { return path_; }
  WString Child(const char* name) const {
    std::string n(name);
    return path_ + WTEXT("\\") + WString(n.begin(), n.end());
  }
  // Regular files directly in the directory.
  std::vector<fs::path> Files() const {
    std::vector<fs::path> out;
    for (auto& e : fs::directory_iterator(ToPath(path_)))
      if (e.is_regular_file()) out.push_back(e.path());
    return out;
  }

private:
  WString path_;
};

fs::path NativeChild(const WString& dir, const char* name) { return ToPath(dir) / name; }

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return s;
}

std::string ReadAll(CMyStream& s) {
  std::string out;
  char buf[1000];
  for (size_t n; (n = s.ReadBuffered(buf, sizeof buf)) > 0;) out.append(buf, n);
  return out;
}

void WriteText(CMyStream& s, const std::string& text) {
  ASSERT_EQ(s.WriteBuffered(text.data(), text.size()), text.size());
}

// ---- one suite for every stream type ----

struct StreamCase {
  const char* name;
  std::function<std::unique_ptr<CMyStream>(const ScratchDir&)> make;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

std::vector<char> g_staticBlock(1 << 20);

std::unique_ptr<CMyStream> Buffered(std::unique_ptr<CMyStream> s, uint32_t flags, size_t r, size_t w) {
  EXPECT_TRUE(s->SetBuffering(flags, r, w));
  return s;
}

std::unique_ptr<CMyStream> TempFile(const ScratchDir& dir) {
  auto f = std::make_unique<CMyStreamFile>();
  EXPECT_TRUE(f->CreateTempFile(dir.Path().c_str(), WTEXT("tmp"), CMyStreamFile::kDeleteOnClose));
  return f;
}

const StreamCase kStreams[] = {
    {"Buf", [](const ScratchDir&) { return std::unique_ptr<CMyStream>(new CMyStreamBuf(32768)); }},
    {"BufTinyChunks", [](const ScratchDir&) { return std::unique_ptr<CMyStream>(new CMyStreamBuf(7)); }},
    {"BufSharedBuffer",
     [](const ScratchDir&) { return Buffered(std::make_unique<CMyStreamBuf>(100), 5, 64, 64); }},
    {"StaticBuffer",
     [](const ScratchDir&) {
       return std::unique_ptr<CMyStream>(new CMyStreamStaticBuffer(g_staticBlock.data(), g_staticBlock.size(), 0, 1));
     }},
    {"Handle",
     [](const ScratchDir& d) {
       platform::FileHandle h = platform::OpenFileAt(d.Child("plain.bin").c_str(), platform::FileOpenMode::kCreateAlways);
       EXPECT_TRUE(platform::IsValidFile(h));
       return std::unique_ptr<CMyStream>(new CMyStreamHandle(h));
     }},
    {"FileSeparateBuffers", [](const ScratchDir& d) { return Buffered(TempFile(d), 3, 300, 200); }},
    {"FileSharedBuffer", [](const ScratchDir& d) { return Buffered(TempFile(d), 5, 4096, 4096); }},
    {"MixedInMemory",
     [](const ScratchDir& d) { return std::unique_ptr<CMyStream>(new CMyStreamMixed(d.Path().c_str(), 1 << 20)); }},
    {"MixedSpilling",
     [](const ScratchDir& d) { return std::unique_ptr<CMyStream>(new CMyStreamMixed(d.Path().c_str(), 16)); }},
};

class EveryStream : public ::testing::TestWithParam<StreamCase> {
protected:
  void SetUp() override {
    stream_ = GetParam().make(dir_);
    ASSERT_TRUE(stream_ && stream_->IsOpen());
  }
  void TearDown() override { stream_.reset(); }
  // Writes text and rewinds.
  void Fill(const std::string& text) {
    WriteText(*stream_, text);
    ASSERT_EQ(stream_->SeekBuffered(0, 0), 0);
  }
  ScratchDir dir_;
  std::unique_ptr<CMyStream> stream_;
};

TEST_P(EveryStream, WritesAndReadsBackInUnevenPieces) {
  std::string data = Pattern(100000);
  size_t at = 0;
  for (size_t piece : {1u, 7u, 4093u, 65536u, 3u}) {
    for (; at < data.size() && piece; piece = 0) {
      size_t n = std::min(data.size() - at, static_cast<size_t>(piece == 65536 ? 70000 : piece * 11));
      ASSERT_EQ(stream_->WriteBuffered(data.data() + at, n), n);
      at += n;
    }
  }
  WriteText(*stream_, data.substr(at));
  for (char c : std::string("xyz")) ASSERT_TRUE(stream_->PutChar(c));
  data += "xyz";
  EXPECT_EQ(stream_->GetSize(), static_cast<int64_t>(data.size()));
  ASSERT_EQ(stream_->SeekBuffered(0, 0), 0);
  std::string back(data.size(), '\0');
  ASSERT_TRUE(stream_->ReadExact(&back[0], back.size()));
  EXPECT_TRUE(back == data);
  EXPECT_EQ(stream_->ReadByte(), -1) << "read past the end";
  char extra;
  EXPECT_FALSE(stream_->ReadExact(&extra, 1));
}

TEST_P(EveryStream, SeeksRelativeAndAbsolute) {
  Fill("0123456789abcdef");
  EXPECT_EQ(stream_->ReadByte(), '0');
  EXPECT_EQ(stream_->SeekBuffered(3, 1), 4);  // inside the read buffer for buffered streams
  EXPECT_EQ(stream_->ReadByte(), '4');
  EXPECT_EQ(stream_->SeekBuffered(-2, 1), 3);
  EXPECT_EQ(stream_->ReadByte(), '3');
  EXPECT_EQ(stream_->SeekBuffered(-1, 2), 15);
  EXPECT_EQ(stream_->ReadByte(), 'f');
  EXPECT_EQ(stream_->SeekBuffered(10, 0), 10);
  EXPECT_EQ(stream_->ReadByte(), 'a');
  EXPECT_EQ(stream_->GetSize(), 16);
  EXPECT_EQ(stream_->ReadByte(), 'b') << "GetSize keeps the position";
}

TEST_P(EveryStream, TruncateHereCutsAtTheReadPosition) {
  Fill("0123456789");
  char four[4];
  ASSERT_TRUE(stream_->ReadExact(four, 4));
  ASSERT_TRUE(stream_->TruncateHere());
  EXPECT_EQ(stream_->GetSize(), 4);
  WriteText(*stream_, "XY");
  ASSERT_EQ(stream_->SeekBuffered(0, 0), 0);
  EXPECT_EQ(ReadAll(*stream_), "0123XY");
}

TEST_P(EveryStream, InterleavedWritesAndReadsAfterSync) {
  Fill("hello world");
  char five[5];
  ASSERT_TRUE(stream_->ReadExact(five, 5));
  ASSERT_TRUE(stream_->Sync());
  WriteText(*stream_, "_");
  ASSERT_TRUE(stream_->Sync());
  EXPECT_EQ(ReadAll(*stream_), "world");
  ASSERT_EQ(stream_->SeekBuffered(0, 0), 0);
  EXPECT_EQ(ReadAll(*stream_), "hello_world");
}

TEST_P(EveryStream, ChecksumsCoverTheWholeContentAndKeepThePosition) {
  Fill("The quick brown fox jumps over the lazy dog\n");
  ASSERT_EQ(stream_->SeekBuffered(4, 0), 4);
  uint64_t length = 0;
  // printf 'The quick brown fox jumps over the lazy dog\n' | cksum
  //   -> 2382472371 44
  EXPECT_EQ(stream_->Checksum(&length), 2382472371u);
  EXPECT_EQ(length, 44u);
  EXPECT_EQ(stream_->ReadByte(), 'q');
  // CRC-32 of the same text is 0x6D93C138 (Python's zlib.crc32, finally
  // inverted); Crc32 leaves the inversion out.
  EXPECT_EQ(stream_->Crc32(), ~0x6D93C138u);
  EXPECT_EQ(stream_->ReadByte(), 'u');
}

TEST_P(EveryStream, GetRangeHandsOutTheBytes) {
  std::string data = Pattern(5000);
  Fill(data);
  const void* p = nullptr;
  bool owned = false;
  ASSERT_TRUE(stream_->GetRange(1000, &p, 3000, &owned));
  EXPECT_EQ(std::string(static_cast<const char*>(p), 3000), data.substr(1000, 3000));
  if (owned) std::free(const_cast<void*>(p));
  EXPECT_FALSE(stream_->GetRange(4000, &p, 1001, &owned)) << "past the end";
  EXPECT_EQ(stream_->ReadByte(), data[0]) << "position kept";
}

TEST_P(EveryStream, LinesSearchesCopiesAndFormatting) {
  Fill("Subject: one\r\nX-Next: 3\r\n\r\n--b<BODY>tail");
  char line[100];
  EXPECT_EQ(stream_->ReadLine(line, true, sizeof line), 12);
  EXPECT_STREQ(line, "Subject: one");
  CMyLineBuffer alloc;
  EXPECT_EQ(stream_->ReadLineAlloc(alloc, 100, 4), 1);
  EXPECT_STREQ(alloc.Text(), "X-Next: 3");
  EXPECT_EQ(stream_->ReadLineAlloc(alloc, 100, 4), 1);
  EXPECT_STREQ(alloc.Text(), "");
  EXPECT_TRUE(stream_->FindString("<body>"));
  CMyStreamBuf copy;
  EXPECT_EQ(CMyStream::CopyStream(*stream_, copy, CMyStream::kAll), 4u);
  copy.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(copy), "tail");
  EXPECT_FALSE(stream_->FindString("x")) << "at the end";

  EXPECT_EQ(FormatToStream(*stream_, "[%04X] %s", 0x2A, "done"), 11u);
  ASSERT_TRUE(stream_->Sync());
  ASSERT_EQ(stream_->SeekBuffered(-11, 2), stream_->GetSize() - 11);
  EXPECT_EQ(ReadAll(*stream_), "[002A] done");
}

// Lent bytes, where a stream has them, are the content in order; a stream
// that cannot lend consumes nothing, so reading on gives the same bytes.
TEST_P(EveryStream, ReadSpanLendsTheNextBytesOrConsumesNothing) {
  const std::string data = Pattern(70000);
  Fill(data);
  EXPECT_EQ(stream_->ReadByte(), data[0]);
  std::string got(1, data[0]);
  const size_t maxima[] = {1, 5, 999, 40000, 1u << 20};
  for (size_t i = 0; got.size() < data.size(); ++i) {
    const uint8_t* p = nullptr;
    size_t n = 0;
    size_t max = maxima[i % 5];
    if (stream_->ReadSpan(&p, max, &n)) {
      ASSERT_GT(n, 0u) << "not at the end yet, after " << got.size();
      ASSERT_LE(n, max);
      got.append(reinterpret_cast<const char*>(p), n);
    } else {
      char piece[1000];
      size_t m = stream_->ReadBuffered(piece, sizeof piece);
      ASSERT_GT(m, 0u);
      got.append(piece, m);
    }
  }
  EXPECT_EQ(got, data);
  const uint8_t* p = nullptr;
  size_t n = 7;
  if (stream_->ReadSpan(&p, 10, &n)) {
    EXPECT_EQ(n, 0u) << "at the end";
  }
  // Written after the lent bytes, read back after a rewind: the stream did
  // not lose its place.
  WriteText(*stream_, "END");
  ASSERT_TRUE(stream_->Sync());
  ASSERT_EQ(stream_->SeekBuffered(-3, 2), 70000);
  EXPECT_EQ(ReadAll(*stream_), "END");
}

TEST_P(EveryStream, CopyStreamTakesALimitedRangeFromThePosition) {
  const std::string data = Pattern(300000);
  Fill(data);
  ASSERT_EQ(stream_->SeekBuffered(12345, 0), 12345);
  CMyStreamBuf copy(1000);
  EXPECT_EQ(CMyStream::CopyStream(*stream_, copy, 200000), 200000u);
  copy.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(copy), data.substr(12345, 200000));
  EXPECT_EQ(ReadAll(*stream_), data.substr(212345)) << "the source stops after the range";
  // A destination that refuses: the copy reports what it took.
  ASSERT_EQ(stream_->SeekBuffered(0, 0), 0);
  CMyStreamBuf small(4096, 50000);
  EXPECT_EQ(CMyStream::CopyStream(*stream_, small, CMyStream::kAll), 50000u);
}

TEST_P(EveryStream, SetBufferingCarriesUnreadAndPendingData) {
  Fill("abcdefghij");
  EXPECT_EQ(stream_->ReadByte(), 'a');
  ASSERT_TRUE(stream_->SetBuffering(CMyStream::kReadBuffer | CMyStream::kWriteBuffer, 32, 32));
  EXPECT_EQ(stream_->ReadByte(), 'b');
  ASSERT_TRUE(stream_->SetBuffering(CMyStream::kReadBuffer, 16, 0));
  EXPECT_EQ(stream_->ReadByte(), 'c');
  ASSERT_TRUE(stream_->SetBuffering(0, 0, 0));
  EXPECT_EQ(stream_->ReadByte(), 'd');
  ASSERT_TRUE(stream_->SeekBuffered(0, 2) == 10);
  ASSERT_TRUE(stream_->SetBuffering(CMyStream::kWriteBuffer, 0, 8));
  WriteText(*stream_, "KLM");
  ASSERT_TRUE(stream_->SetBuffering(CMyStream::kWriteBuffer, 0, 4)) << "3 pending bytes fit";
  EXPECT_FALSE(stream_->SetBuffering(CMyStream::kWriteBuffer, 0, 2)) << "too small for them";
  ASSERT_TRUE(stream_->Sync());
  ASSERT_EQ(stream_->SeekBuffered(0, 0), 0);
  EXPECT_EQ(ReadAll(*stream_), "abcdefghijKLM");
}

INSTANTIATE_TEST_SUITE_P(Streams, EveryStream, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- checksums ----

TEST(StreamChecksum, KnownValues) {
  struct Case { const char* text; uint32_t cksum; uint32_t crc; } cases[] = {
      // cksum values: printf '<text>' | cksum; CRC-32 values as zlib.crc32
      {"", 4294967295u, 0xFFFFFFFFu},
      {"a", 1220704766u, ~0xE8B7BE43u},
      // The CRC-32 check value of "123456789" is 0xCBF43926 after the final
      // inversion, which Crc32 leaves out.
      {"123456789", 930766865u, ~0xCBF43926u},
  };
  for (const Case& c : cases) {
    CMyStreamBuf s;
    s.Write(c.text, std::strlen(c.text));
    EXPECT_EQ(s.Checksum(nullptr), c.cksum) << c.text;
    EXPECT_EQ(s.Crc32(), c.crc) << c.text;
  }
}

// ---- search and lines ----

struct FindCase {
  const char* data;
  const char* text;
  bool found;
  const char* rest;  // what follows the match (or "" when not found)
};

TEST(StreamFindString, Cases) {
  const FindCase cases[] = {
      // An occurrence that overlaps a false start is found.
      {"---b!", "--b", true, "!"},
      {"<<BODY>x", "<BODY>", true, "x"},
      {"<html><Body>y", "<body>", true, "y"},
      {"<body lang=en>", "<body>", false, ""},
      {"caf\xC9 z", "caf\xE9", true, " z"},  // Latin-1 letters fold
      {"aaab", "aab", true, ""},
      {"abc", "", true, "abc"},
      {"", "a", false, ""},
  };
  for (const FindCase& c : cases) {
    CMyStreamBuf s(3);
    s.Write(c.data, std::strlen(c.data));
    s.Seek(0, nullptr, 0);
    EXPECT_EQ(s.FindString(c.text), c.found) << c.data << " / " << c.text;
    EXPECT_EQ(ReadAll(s), c.rest) << c.data << " / " << c.text;
  }
}

TEST(StreamReadLineAlloc, ResultsAndLimits) {
  CMyStreamBuf s;
  std::string text = "ab\r\ncd";
  s.Write(text.data(), text.size());
  s.Seek(0, nullptr, 0);
  CMyLineBuffer line;
  EXPECT_EQ(s.ReadLineAlloc(line, 100, 16), 1);
  EXPECT_STREQ(line.Text(), "ab");
  EXPECT_EQ(s.ReadLineAlloc(line, 100, 16), 0);
  EXPECT_STREQ(line.Text(), "cd");
  EXPECT_EQ(s.ReadLineAlloc(line, 100, 16), -1);
  EXPECT_STREQ(line.Text(), "");

  CMyStreamBuf longer;
  text = "0123456789ABC\nnext\n";
  longer.Write(text.data(), text.size());
  longer.Seek(0, nullptr, 0);
  CMyLineBuffer l2;
  EXPECT_EQ(longer.ReadLineAlloc(l2, 11, 3), -3) << "grows 3 at a time up to 11 bytes";
  EXPECT_STREQ(l2.Text(), "0123456789");
  EXPECT_LE(l2.capacity, 11u);
  EXPECT_EQ(longer.ReadLineAlloc(l2, 11, 3), 1) << "nothing of the line is lost";
  EXPECT_STREQ(l2.Text(), "ABC");
  EXPECT_EQ(longer.ReadLineAlloc(l2, 5, 0), 1) << "exactly limit - 1 characters fit";
  EXPECT_STREQ(l2.Text(), "next");
}

// A stream over a text that cannot lend its bytes: line reading goes
// through a read buffer.
class TextReader : public CMyStream {
public:
  explicit TextReader(std::string text) : text_(std::move(text)) {}
  size_t Read(void* buffer, size_t length) override {
    size_t n = text_.size() - pos_ < length ? text_.size() - pos_ : length;
    std::memcpy(buffer, text_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  bool Truncate() override { return false; }
  bool Seek(int64_t, int64_t*, int) override { return false; }
  bool IsOpen() const override { return true; }

private:
  std::string text_;
  size_t pos_ = 0;
};

TEST(StreamReadLineAlloc, LentBytesAndABufferGiveTheSameLines) {
  // CRs anywhere, lines across chunks and buffer refills, a line that
  // reaches the limit of 9 bytes, and a last line without LF.
  const std::string text = "\r\rab\r\rc\n\n0123456789abc\r\n\rxy\r";
  const std::vector<std::pair<int, std::string>> expected = {
      {1, "abc"}, {1, ""}, {-3, "01234567"}, {1, "89abc"}, {0, "xy"}, {-1, ""}};
  auto lines = [&](CMyStream& s) {
    std::vector<std::pair<int, std::string>> got;
    CMyLineBuffer line;
    for (int r = 0; r != -1;) {
      r = s.ReadLineAlloc(line, 9, 2);
      got.emplace_back(r, line.Text());
    }
    return got;
  };
  CMyStreamBuf chunked(3);  // lends three bytes at a time
  chunked.Write(text.data(), text.size());
  chunked.Seek(0, nullptr, 0);
  EXPECT_EQ(lines(chunked), expected);
  EXPECT_EQ(chunked.GetBufferingFlags(), 0u) << "no buffer for a memory stream";
  TextReader small(text);
  ASSERT_TRUE(small.SetBuffering(CMyStream::kReadBuffer, 4, 0));
  EXPECT_EQ(lines(small), expected);
  TextReader plain(text);
  EXPECT_EQ(lines(plain), expected);
  EXPECT_EQ(plain.GetBufferingFlags(), CMyStream::kReadBuffer) << "given a buffer";
}

TEST(StreamReadLine, FoldingNeedsAReadBufferAndTheFlag) {
  std::string text = "A: 1\r\n\tcont\r\nB: 2\n";
  {
    CMyStreamBuf s;
    s.Write(text.data(), text.size());
    s.Seek(0, nullptr, 0);
    ASSERT_TRUE(s.SetBuffering(CMyStream::kReadBuffer, 64, 0));
    char line[64];
    EXPECT_EQ(s.ReadLine(line, true, sizeof line), 4);
    EXPECT_STREQ(line, "A: 1") << "single-line flag: no folding";
  }
  {
    CMyStreamBuf s;
    s.Write(text.data(), text.size());
    s.Seek(0, nullptr, 0);
    char line[64];
    EXPECT_EQ(s.ReadLine(line, false, sizeof line), 4);
    EXPECT_STREQ(line, "A: 1") << "no read buffer to look ahead in";
  }
  {
    CMyStreamBuf s;
    s.Write(text.data(), text.size());
    s.Seek(0, nullptr, 0);
    ASSERT_TRUE(s.SetBuffering(CMyStream::kReadBuffer, 64, 0));
    char small[4];
    EXPECT_EQ(s.ReadLine(small, false, sizeof small), 3) << "size - 1 bytes at most";
    EXPECT_STREQ(small, "A: ");
    char line[64];
    EXPECT_EQ(s.ReadLine(line, false, sizeof line), 6);
    EXPECT_STREQ(line, "1\tcont");
    EXPECT_EQ(s.ReadLine(line, false, sizeof line), 4);
    EXPECT_EQ(s.ReadLine(line, false, sizeof line), -1);
  }
}

// ---- memory streams ----

TEST(StreamBuf, TheFirstChunkGrowsWithItsDataAndKeepsIt) {
  // Chunks of 1000 bytes: the first starts small and grows while single
  // bytes, then runs across chunk borders, arrive and are overwritten.
  CMyStreamBuf s(1000);
  std::string expected;
  for (int i = 0; i < 700; ++i) {
    char c = static_cast<char>('a' + i % 26);
    ASSERT_EQ(s.Write(&c, 1), 1u);
    expected += c;
  }
  std::string run(2500, 'x');
  for (size_t i = 0; i < run.size(); ++i) run[i] = static_cast<char>('0' + i % 10);
  ASSERT_EQ(s.Write(run.data(), run.size()), run.size());
  expected += run;
  ASSERT_TRUE(s.Seek(5, nullptr, 0));
  ASSERT_EQ(s.Write("HELLO", 5), 5u);
  expected.replace(5, 5, "HELLO");
  EXPECT_EQ(s.Size(), expected.size());
  ASSERT_TRUE(s.Seek(0, nullptr, 0));
  EXPECT_EQ(ReadAll(s), expected);
  const void* p;
  bool owned = true;
  ASSERT_TRUE(s.GetRange(990, &p, 10, &owned));
  EXPECT_FALSE(owned);
  EXPECT_EQ(std::string(static_cast<const char*>(p), 10), expected.substr(990, 10));
  // Emptied, it starts over with a small first chunk.
  ASSERT_TRUE(s.Seek(0, nullptr, 0));
  ASSERT_TRUE(s.Truncate());
  ASSERT_EQ(s.Write("again", 5), 5u);
  ASSERT_TRUE(s.Seek(0, nullptr, 0));
  EXPECT_EQ(ReadAll(s), "again");
}

TEST(StreamBuf, SeekBeyondTheSizeLandsAtTheEndAndWritesStopAtTheMaximum) {
  CMyStreamBuf s(4, /*maxSize=*/10);
  EXPECT_EQ(s.Write("0123456789AB", 12), 10u);
  int64_t pos = -1;
  ASSERT_TRUE(s.Seek(100, &pos, 0));
  EXPECT_EQ(pos, 10);
  ASSERT_TRUE(s.Seek(-100, &pos, 1));
  EXPECT_EQ(pos, 0);
  EXPECT_FALSE(s.Seek(0, &pos, 3));
  const void* p;
  bool owned = true;
  ASSERT_TRUE(s.GetRange(4, &p, 4, &owned));
  EXPECT_FALSE(owned) << "inside one chunk: a pointer into the stream";
  EXPECT_EQ(std::string(static_cast<const char*>(p), 4), "4567");
  ASSERT_TRUE(s.GetRange(3, &p, 4, &owned));
  EXPECT_TRUE(owned) << "across chunks: a copy";
  EXPECT_EQ(std::string(static_cast<const char*>(p), 4), "3456");
  std::free(const_cast<void*>(p));
}

TEST(StreamStaticBuffer, ReadOnlyModeRefusesWrites) {
  char block[8] = {'a', 'b', 'c', 'd', 0, 0, 0, 0};
  CMyStreamStaticBuffer ro(block, sizeof block, 4, 0);
  EXPECT_EQ(ro.Write("x", 1), 0u);
  EXPECT_FALSE(ro.Truncate());
  EXPECT_EQ(ReadAll(ro), "abcd");
  CMyStreamStaticBuffer rw(block, sizeof block, 4, 1);
  rw.Seek(0, nullptr, 2);
  EXPECT_EQ(rw.Write("efghij", 6), 4u) << "up to the capacity";
  CMyStreamStaticBuffer none(nullptr, 10, 0, 1);
  EXPECT_FALSE(none.IsOpen());
  EXPECT_EQ(none.Write("x", 1), 0u);
}

// A stream that takes `budget` bytes and then refuses everything.
class RefusingStream : public CMyStreamBuf {
public:
  explicit RefusingStream(size_t budget) : budget_(budget) {}
  size_t Write(const void* data, size_t length) override {
    size_t n = length < budget_ ? length : budget_;
    budget_ -= n;
    return CMyStreamBuf::Write(data, n);
  }
  void Allow(size_t more) { budget_ += more; }

private:
  size_t budget_;
};

TEST(StreamWriteBuffer, ARefusedFlushKeepsOnlyTheUnwrittenRest) {
  RefusingStream s(5);
  ASSERT_TRUE(s.SetBuffering(CMyStream::kWriteBuffer, 0, 4));
  std::string data = "0123456789";
  size_t taken = 0;
  for (size_t i = 0; i < data.size(); i += 2) taken += s.WriteBuffered(data.data() + i, 2);
  EXPECT_EQ(taken, 9u) << "4 written, 1 written of the next 4, then 4 held; one refused";
  EXPECT_EQ(s.FlushWriteBuffer(), -1);
  s.Allow(100);
  EXPECT_EQ(s.FlushWriteBuffer(), 1);
  EXPECT_EQ(s.FlushWriteBuffer(), 0) << "nothing left";
  s.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(s), data.substr(0, taken)) << "every byte taken arrives exactly once";
}

TEST(StreamBuffers, DiscardForgetsBufferedBytesWithoutIo) {
  CMyStreamBuf s;
  ASSERT_EQ(s.Write("abcdef", 6), 6u);
  s.Seek(0, nullptr, 0);
  ASSERT_TRUE(s.SetBuffering(CMyStream::kReadBuffer | CMyStream::kWriteBuffer, 16, 16));
  ASSERT_EQ(s.ReadByte(), 'a');  // the read buffer now holds "bcdef"
  ASSERT_EQ(s.WriteBuffered("XY", 2), 2u);
  s.DiscardBuffers();
  EXPECT_EQ(s.FlushWriteBuffer(), 0) << "the pending write is gone";
  EXPECT_EQ(s.ReadByte(), -1) << "nothing unread is replayed; the position is past the data";
  s.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(s), "abcdef") << "the content itself is untouched";
  EXPECT_EQ(s.GetBufferingFlags(), CMyStream::kReadBuffer | CMyStream::kWriteBuffer);
}

TEST(StreamWriteBuffer, FormatToStreamReportsWhatTheStreamAccepted) {
  RefusingStream s(3);
  EXPECT_EQ(FormatToStream(s, "%s", "abcdef"), 3u);
  RefusingStream wide(100);
  static const WChar kFormat[] = {'%', 'd', 0};
  EXPECT_EQ(FormatToStream(wide, kFormat, 42), 2u);
  EXPECT_EQ(wide.Size(), 4u) << "two UTF-16 units";
}

// ---- files ----

TEST(StreamFile, TempFileNamesSkipCollisionsAndCloseDeletes) {
  ScratchDir dir;
  uint32_t next = NextTempFileNumber() + 1;
  for (uint32_t n = next; n < next + 3; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "%08X.tmp", n);
    platform::FileHandle h = platform::OpenFileAt(dir.Child(name).c_str(), platform::FileOpenMode::kCreateAlways);
    ASSERT_TRUE(platform::IsValidFile(h));
    platform::CloseFile(h);
  }
  CMyStreamFile f;
  ASSERT_TRUE(f.CreateTempFile(dir.Path().c_str(), WTEXT("tmp"), CMyStreamFile::kDeleteOnClose));
  char expected[16];
  std::snprintf(expected, sizeof expected, "%08X.tmp", next + 3);
  EXPECT_TRUE(fs::exists(NativeChild(dir.Path(), expected)));
  EXPECT_EQ(dir.Files().size(), 4u);
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(fs::exists(NativeChild(dir.Path(), expected)));

  CMyStreamFile keep;
  ASSERT_TRUE(keep.CreateTempFile((dir.Path() + WTEXT("/")).c_str(), WTEXT("dat"), 0));
  keep.Close();
  EXPECT_EQ(dir.Files().size(), 4u) << "kept without the delete flag";
}

TEST(StreamFile, BorrowedHandleStaysOpen) {
  ScratchDir dir;
  platform::FileHandle h = platform::OpenFileAt(dir.Child("b.bin").c_str(), platform::FileOpenMode::kCreateAlways);
  ASSERT_TRUE(platform::IsValidFile(h));
  {
    CMyStreamHandle borrowed(h, CMyStreamHandle::kBorrowed);
    ASSERT_TRUE(borrowed.SetBuffering(CMyStream::kWriteBuffer, 0, 64));
    WriteText(borrowed, "one");
    EXPECT_TRUE(borrowed.Close()) << "flushes";
    EXPECT_FALSE(borrowed.IsOpen());
  }
  CMyStreamHandle owner(h);
  WriteText(owner, "two");
  owner.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(owner), "onetwo");
}

// ---- mixed stream ----

TEST(StreamMixed, SpillsPastTheThresholdIntoATempFileDeletedOnDestroy) {
  ScratchDir dir;
  fs::path file;
  {
    CMyStreamMixed m(dir.Path().c_str(), 10);
    EXPECT_EQ(m.Write("abcdef", 6), 6u);
    EXPECT_TRUE(m.IsInMemory());
    EXPECT_TRUE(dir.Files().empty());
    EXPECT_EQ(m.GetBufferingFlags(), 0u) << "no buffer while in memory";
    EXPECT_EQ(m.Write("ghijk", 5), 5u);
    EXPECT_FALSE(m.IsInMemory());
    EXPECT_EQ(m.GetBufferingFlags(), CMyStream::kReadBuffer | CMyStream::kSharedBuffer)
        << "the file side is buffered";
    auto files = dir.Files();
    ASSERT_EQ(files.size(), 1u);
    file = files[0];
    std::string name = file.filename().string();
    ASSERT_EQ(name.size(), 12u);
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF"), 8u);
    EXPECT_EQ(name.substr(8), ".tmp");
    WString stored = m.FileName();
    std::string leaf = name;
    EXPECT_EQ(stored.substr(stored.size() - 12), WString(leaf.begin(), leaf.end()));
    EXPECT_EQ(fs::file_size(file), 11u);
    m.Seek(0, nullptr, 0);
    EXPECT_EQ(ReadAll(m), "abcdefghijk");
  }
  EXPECT_FALSE(fs::exists(file));
}

TEST(StreamMixed, AWriteOfExactlyTheThresholdStaysInMemory) {
  ScratchDir dir;
  CMyStreamMixed m(dir.Path().c_str(), 10);
  EXPECT_EQ(m.Write("0123456789", 10), 10u);
  EXPECT_TRUE(m.IsInMemory());
  m.Seek(4, nullptr, 0);
  EXPECT_EQ(m.Write("xyz", 3), 3u) << "position 4 + 3 is within the threshold";
  EXPECT_TRUE(m.IsInMemory());
  EXPECT_EQ(m.Write("0123456", 7), 7u);
  EXPECT_FALSE(m.IsInMemory());
  m.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(m), "0123xyz0123456");
}

TEST(StreamMixed, SwitchKeepsAPositionInsideTheData) {
  ScratchDir dir;
  CMyStreamMixed m(dir.Path().c_str(), 100);
  m.Write("0123456789", 10);
  m.Seek(2, nullptr, 0);
  ASSERT_TRUE(m.SwitchToFile());
  EXPECT_EQ(m.Write("AB", 2), 2u);
  m.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(m), "01AB456789");
}

TEST(StreamMixed, CreatesAMissingDirectoryChain) {
  ScratchDir dir;
  WString nested = dir.Path() + WTEXT("\\a/b\\c");
  CMyStreamMixed m(nested.c_str(), 4);
  ASSERT_EQ(m.Write("123456", 6), 6u);
  EXPECT_FALSE(m.IsInMemory());
  fs::path native = ToPath(dir.Path()) / "a" / "b" / "c";
  EXPECT_TRUE(fs::is_directory(native));
  EXPECT_EQ(std::distance(fs::directory_iterator(native), fs::directory_iterator()), 1);
}

TEST(StreamMixed, ADirectoryThatCannotBeCreatedRefusesTheWriteAndKeepsTheData) {
  ScratchDir dir;
  platform::FileHandle h = platform::OpenFileAt(dir.Child("blocker").c_str(), platform::FileOpenMode::kCreateAlways);
  ASSERT_TRUE(platform::IsValidFile(h));
  platform::CloseFile(h);
  WString impossible = dir.Child("blocker") + WTEXT("\\sub");  // a file where a directory should be
  CMyStreamMixed m(impossible.c_str(), 4);
  EXPECT_EQ(m.Write("abc", 3), 3u);
  EXPECT_EQ(m.Write("defgh", 5), 0u);
  EXPECT_TRUE(m.IsInMemory());
  m.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(m), "abc");
  // In memory the stream holds no buffer of its own: through the buffered
  // interface the refusal shows at once.
  m.Seek(0, nullptr, 2);
  EXPECT_EQ(m.GetBufferingFlags(), 0u);
  EXPECT_EQ(m.WriteBuffered("xy", 2), 0u);
  EXPECT_TRUE(m.Sync()) << "nothing was left pending";
  m.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(m), "abc");
}

TEST(StreamMixed, MaximumTotalSizeSetsTheOverflowFlag) {
  ScratchDir dir;
  CMyStreamMixed m(dir.Path().c_str(), 4, /*maxTotal=*/10);
  EXPECT_EQ(m.Write("12345678", 8), 8u);
  EXPECT_FALSE(m.HasOverflowed());
  EXPECT_EQ(m.Write("abc", 3), 0u);
  EXPECT_TRUE(m.HasOverflowed());
  EXPECT_EQ(m.Write("ab", 2), 2u) << "what fits is still taken";
  m.Seek(0, nullptr, 0);
  EXPECT_EQ(ReadAll(m), "12345678ab");
}

TEST(StreamMixed, LargeContentThroughTheBufferedInterface) {
  ScratchDir dir;
  CMyStreamMixed m(dir.Path().c_str(), 100000);
  std::string data = Pattern(300000);
  WriteText(m, data);
  ASSERT_TRUE(m.Sync());
  EXPECT_FALSE(m.IsInMemory());
  EXPECT_EQ(m.GetSize(), 300000);
  ASSERT_EQ(m.SeekBuffered(0, 0), 0);
  EXPECT_TRUE(ReadAll(m) == data);
}

}  // namespace
}  // namespace tarvixlib
