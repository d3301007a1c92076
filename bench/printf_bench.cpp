// The printf engine against the C library's snprintf on the texts the
// product formats most: log bodies, session lines, integers with width and
// precision, and wide strings written as UTF-8.
//
// Pairs are named Engine/... and Snprintf/... with the same arguments;
// compare their times. Both write into a stack buffer of 512 characters.
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "foundation/myprintf.h"
#include "foundation/textconv.h"

namespace {

using namespace tarvixlib;

constexpr size_t kBuffer = 512;
const char* kMessage = "Scan of attachment 'invoice-2026-12.pdf' finished: clean";

void Engine_LogLine(benchmark::State& state) {
  char buffer[kBuffer];
  unsigned thread = 0x1A2C;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatToBuffer(buffer, kBuffer, "[%04X] %s", thread, kMessage));
    benchmark::ClobberMemory();
  }
}
void Snprintf_LogLine(benchmark::State& state) {
  char buffer[kBuffer];
  unsigned thread = 0x1A2C;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, kBuffer, "[%04X] %s", thread, kMessage));
    benchmark::ClobberMemory();
  }
}

void Engine_Session(benchmark::State& state) {
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatToBuffer(buffer, kBuffer, "%s: New session ('%s', handle: '%u')",
                                            "CTarvixConnection", "TarvixPipe", 1234u));
    benchmark::ClobberMemory();
  }
}
void Snprintf_Session(benchmark::State& state) {
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, kBuffer, "%s: New session ('%s', handle: '%u')",
                                           "CTarvixConnection", "TarvixPipe", 1234u));
    benchmark::ClobberMemory();
  }
}

#define INTEGER_FORMAT "%d|%8d|%-6u|%.5d|%08x|%#X|%+d|%lld"
#define INTEGER_ARGS 123456, -42, 7u, 99, 0xBEEFu, 0xCAFEu, 5, -9000000000000ll
void Engine_Integers(benchmark::State& state) {
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatToBuffer(buffer, kBuffer, INTEGER_FORMAT, INTEGER_ARGS));
    benchmark::ClobberMemory();
  }
}
void Snprintf_Integers(benchmark::State& state) {
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, kBuffer, INTEGER_FORMAT, INTEGER_ARGS));
    benchmark::ClobberMemory();
  }
}

// 200 UTF-16 units: ASCII with some accented letters and euro signs.
std::u16string WideText() {
  std::u16string text;
  while (text.size() < 200) text += u"Gr\u00FC\u00DFe aus K\u00F6ln, 5 \u20AC. ";
  text.resize(200);
  return text;
}

// %IS converts UTF-16 to UTF-8 while formatting.
void Engine_Utf8FromWide(benchmark::State& state) {
  std::u16string wide = WideText();
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatToBuffer(buffer, kBuffer, "%IS", wide.c_str()));
    benchmark::ClobberMemory();
  }
}
// snprintf "%s" of the same text already converted to UTF-8 (copy only).
void Snprintf_Utf8Copy(benchmark::State& state) {
  std::u16string wide = WideText();
  std::string utf8(Utf8Length(wide.c_str()), '\0');
  Utf8Encode(&utf8[0], wide.c_str());
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, kBuffer, "%s", utf8.c_str()));
    benchmark::ClobberMemory();
  }
}
// snprintf "%ls" of the same text as wchar_t under a UTF-8 locale: the C
// library's own wide-to-multibyte conversion while formatting.
void Snprintf_Utf8FromWide(benchmark::State& state) {
  std::u16string wide16 = WideText();
  std::wstring wide(wide16.begin(), wide16.end());
  if (!std::setlocale(LC_ALL, "C.UTF-8")) {
    state.SkipWithError("no C.UTF-8 locale");
    return;
  }
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, kBuffer, "%ls", wide.c_str()));
    benchmark::ClobberMemory();
  }
  std::setlocale(LC_ALL, "C");
}

// The heap string: one measuring pass plus one exact allocation.
void Engine_StringLogLine(benchmark::State& state) {
  CMyStringA text;
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.Format("[%04X] %s", 0x1A2Cu, kMessage));
  }
}
void Snprintf_StringLogLine(benchmark::State& state) {
  std::string text;
  for (auto _ : state) {
    int n = std::snprintf(nullptr, 0, "[%04X] %s", 0x1A2Cu, kMessage);
    text.resize(static_cast<size_t>(n));
    std::snprintf(&text[0], static_cast<size_t>(n) + 1, "[%04X] %s", 0x1A2Cu, kMessage);
    benchmark::DoNotOptimize(text.data());
  }
}

// Floating point (not a goal; shown for reference).
void Engine_Float(benchmark::State& state) {
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatToBuffer(buffer, kBuffer, "%.3f %e %g", 3.14159265, 1e-7, 12345.678));
    benchmark::ClobberMemory();
  }
}
void Snprintf_Float(benchmark::State& state) {
  char buffer[kBuffer];
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buffer, kBuffer, "%.3f %e %g", 3.14159265, 1e-7, 12345.678));
    benchmark::ClobberMemory();
  }
}

BENCHMARK(Engine_LogLine);
BENCHMARK(Snprintf_LogLine);
BENCHMARK(Engine_Session);
BENCHMARK(Snprintf_Session);
BENCHMARK(Engine_Integers);
BENCHMARK(Snprintf_Integers);
BENCHMARK(Engine_Utf8FromWide);
BENCHMARK(Snprintf_Utf8Copy);
BENCHMARK(Snprintf_Utf8FromWide);
BENCHMARK(Engine_StringLogLine);
BENCHMARK(Snprintf_StringLogLine);
BENCHMARK(Engine_Float);
BENCHMARK(Snprintf_Float);

}  // namespace

BENCHMARK_MAIN();
