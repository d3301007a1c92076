// Body encoding of the MIME writer against GMime's encoders, on the same
// 64 MiB of bytes in the same run: base64 over random binary data,
// quoted-printable over 8-bit text. Ours goes the whole way through
// CMimePartFile::WriteMime (data stream read, encoding, output stream);
// GMime's step functions encode the same bytes in pieces of the same size
// into a reused buffer. Both outputs are counted and discarded.
//
// Compare bytes_per_second of the pairs: GMime time / our time is the ratio.
#include <benchmark/benchmark.h>

#include <gmime/gmime.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "mime/mimemail.h"

using namespace tarvixlib;

namespace {

constexpr size_t kBodySize = size_t{64} << 20;
constexpr size_t kPiece = 57 * 1150;  // the writer's read piece

const std::string& BinaryBody() {
  static const std::string body = [] {
    std::mt19937_64 rng(1);
    std::string s(kBodySize, '\0');
    for (size_t i = 0; i < s.size(); i += 8) {
      uint64_t v = rng();
      for (size_t k = 0; k < 8 && i + k < s.size(); ++k) s[i + k] = static_cast<char>(v >> (8 * k));
    }
    return s;
  }();
  return body;
}

// Latin-1 mail text: words, punctuation that quoted-printable escapes,
// accented letters, CR LF line ends every 40 to 100 characters.
const std::string& TextBody() {
  static const std::string body = [] {
    std::mt19937 rng(2);
    const char* words[] = {"the", "message", "caf\xe9", "na\xefve", "price:", "=", "50%", "(see",
                           "below)", "r\xe9sum\xe9", "mail@example.org", "!", "and", "a", "\"quote\""};
    std::string s;
    s.reserve(kBodySize + 128);
    size_t line = 0, limit = 40 + rng() % 60;
    while (s.size() < kBodySize) {
      const char* w = words[rng() % (sizeof words / sizeof words[0])];
      s += w;
      line += std::char_traits<char>::length(w);
      if (line >= limit) {
        s += "\r\n";
        line = 0;
        limit = 40 + rng() % 60;
      } else {
        s += ' ';
        ++line;
      }
    }
    s.resize(kBodySize);
    return s;
  }();
  return body;
}

// An output stream that counts and discards.
class CountingStream : public CMyStream {
public:
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void*, size_t length) override {
    count += length;
    return length;
  }
  bool Truncate() override { return true; }
  bool Seek(int64_t, int64_t* newPosition, int) override {
    if (newPosition) *newPosition = 0;
    return true;
  }
  bool IsOpen() const override { return true; }
  uint64_t count = 0;
};

void WriteMimeBody(benchmark::State& state, const std::string& body, const char* encoding) {
  CMimePartFile part(true, new CMyStreamBuf());
  if (part.DataStream()->Write(body.data(), body.size()) != body.size()) {
    state.SkipWithError("cannot fill the data stream");
    return;
  }
  part.SetHeader("Content-Type", nullptr, "application/octet-stream");
  part.SetHeader("Content-Transfer-Encoding", nullptr, encoding);
  uint64_t written = 0;
  for (auto _ : state) {
    CountingStream out;
    if (!part.WriteMime(out)) state.SkipWithError("WriteMime failed");
    written = out.count;
    benchmark::DoNotOptimize(written);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.counters["out_bytes"] = static_cast<double>(written);
}

using StepFn = size_t (*)(const unsigned char*, size_t, unsigned char*, int*, guint32*);

void GMimeBody(benchmark::State& state, const std::string& body, StepFn step, StepFn close) {
  g_mime_init();
  // Generous for both encoders: at most 3 output characters per input byte
  // plus line ends.
  std::vector<unsigned char> outbuf(kPiece * 4 + 1024);
  const auto* in = reinterpret_cast<const unsigned char*>(body.data());
  uint64_t written = 0;
  for (auto _ : state) {
    CountingStream out;
    int s = 0;
    guint32 save = 0;
    size_t pos = 0;
    for (; pos + kPiece < body.size(); pos += kPiece) {
      size_t n = step(in + pos, kPiece, outbuf.data(), &s, &save);
      out.Write(outbuf.data(), n);
    }
    size_t n = close(in + pos, body.size() - pos, outbuf.data(), &s, &save);
    out.Write(outbuf.data(), n);
    written = out.count;
    benchmark::DoNotOptimize(written);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.counters["out_bytes"] = static_cast<double>(written);
}

void BM_Base64_WriteMime(benchmark::State& state) { WriteMimeBody(state, BinaryBody(), "base64"); }
void BM_Base64_GMime(benchmark::State& state) {
  GMimeBody(state, BinaryBody(), g_mime_encoding_base64_encode_step,
            g_mime_encoding_base64_encode_close);
}
void BM_QuotedPrintable_WriteMime(benchmark::State& state) {
  WriteMimeBody(state, TextBody(), "quoted-printable");
}
void BM_QuotedPrintable_GMime(benchmark::State& state) {
  GMimeBody(state, TextBody(), g_mime_encoding_quoted_encode_step,
            g_mime_encoding_quoted_encode_close);
}

BENCHMARK(BM_Base64_WriteMime)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Base64_GMime)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QuotedPrintable_WriteMime)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QuotedPrintable_GMime)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
