// Streams and hash tables against their plain baselines, measured in the
// same run:
//   StreamBuf/<piece>     256 MiB written then read back in pieces, against
//   Memcpy/<piece>        memcpy of the same bytes into a block and back
//                         (cold: fresh memory each time; warm: reused);
//   StreamMixed           64 MiB through the mixed stream (spilling to its
//   PlainFile             temporary file), against write(2) to a plain file;
//   HashTable/...         1,000,000 text keys inserted and looked up, against
//   UnorderedMap/...      std::unordered_map<std::string, uint32_t> with the
//                         same bucket count.
// Throughput is reported as bytes (or items) per second; compare each pair.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/hashtable.h"
#include "foundation/mystream.h"

namespace {

using namespace tarvixlib;

constexpr size_t kStreamBytes = 256u << 20;
constexpr size_t kMixedBytes = 64u << 20;

const std::vector<uint8_t>& Piece() {
  static std::vector<uint8_t> piece = [] {
    std::vector<uint8_t> p(32768);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 131 + 7);
    return p;
  }();
  return piece;
}

void StreamBuf(benchmark::State& state) {
  const size_t piece = static_cast<size_t>(state.range(0));
  const uint8_t* data = Piece().data();
  std::vector<uint8_t> back(piece);
  for (auto _ : state) {
    CMyStreamBuf stream;
    for (size_t done = 0; done < kStreamBytes; done += piece) stream.Write(data, piece);
    stream.Seek(0, nullptr, 0);
    for (size_t done = 0; done < kStreamBytes; done += piece) {
      stream.Read(back.data(), piece);
      benchmark::DoNotOptimize(back.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

void Memcpy(benchmark::State& state) {
  const size_t piece = static_cast<size_t>(state.range(0));
  const uint8_t* data = Piece().data();
  std::vector<uint8_t> back(piece);
  for (auto _ : state) {
    // A fresh block each time, as the stream allocates its chunks afresh.
    uint8_t* block = static_cast<uint8_t*>(std::malloc(kStreamBytes));
    for (size_t done = 0; done < kStreamBytes; done += piece) std::memcpy(block + done, data, piece);
    for (size_t done = 0; done < kStreamBytes; done += piece) {
      std::memcpy(back.data(), block + done, piece);
      benchmark::DoNotOptimize(back.data());
    }
    std::free(block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

// The same with the memory already in place: the stream overwrites its
// chunks after a seek to the start, memcpy reuses one block.
void StreamBufWarm(benchmark::State& state) {
  const size_t piece = static_cast<size_t>(state.range(0));
  const uint8_t* data = Piece().data();
  std::vector<uint8_t> back(piece);
  CMyStreamBuf stream;
  for (size_t done = 0; done < kStreamBytes; done += piece) stream.Write(data, piece);
  for (auto _ : state) {
    stream.Seek(0, nullptr, 0);
    for (size_t done = 0; done < kStreamBytes; done += piece) stream.Write(data, piece);
    stream.Seek(0, nullptr, 0);
    for (size_t done = 0; done < kStreamBytes; done += piece) {
      stream.Read(back.data(), piece);
      benchmark::DoNotOptimize(back.data());
    }
  }
  if (stream.Size() != kStreamBytes) state.SkipWithError("the stream grew on overwrite");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

void MemcpyWarm(benchmark::State& state) {
  const size_t piece = static_cast<size_t>(state.range(0));
  const uint8_t* data = Piece().data();
  std::vector<uint8_t> back(piece);
  std::vector<uint8_t> block(kStreamBytes, 1);
  for (auto _ : state) {
    for (size_t done = 0; done < kStreamBytes; done += piece)
      std::memcpy(block.data() + done, data, piece);
    benchmark::ClobberMemory();
    for (size_t done = 0; done < kStreamBytes; done += piece) {
      std::memcpy(back.data(), block.data() + done, piece);
      benchmark::DoNotOptimize(back.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

void StreamMixed(benchmark::State& state) {
  const uint8_t* data = Piece().data();
  for (auto _ : state) {
    CMyStreamMixed stream("/tmp", 1u << 20);
    for (size_t done = 0; done < kMixedBytes; done += 32768) stream.Write(data, 32768);
    stream.Flush();
    if (stream.IsInMemory()) state.SkipWithError("the mixed stream did not spill to a file");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMixedBytes));
}

void PlainFile(benchmark::State& state) {
  const uint8_t* data = Piece().data();
  for (auto _ : state) {
    char name[] = "/tmp/tarvix-bench-XXXXXX";
    int fd = mkstemp(name);
    for (size_t done = 0; done < kMixedBytes; done += 32768)
      if (write(fd, data, 32768) != 32768) state.SkipWithError("write failed");
    close(fd);
    unlink(name);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMixedBytes));
}

constexpr size_t kKeys = 1000000;
constexpr uint32_t kBuckets = 1u << 20;

const std::vector<std::string>& Keys() {
  static std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    k.reserve(kKeys);
    char text[64];
    for (size_t i = 0; i < kKeys; ++i) {
      std::snprintf(text, sizeof text, "attachment-%zu.part%zu", i * 2654435761u % 1000003u, i);
      k.emplace_back(text);
    }
    return k;
  }();
  return keys;
}

void HashTable_InsertLookup(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    CMyHashTableT<const char*, uint32_t> table(kBuckets);
    for (size_t i = 0; i < keys.size(); ++i) table.Set(keys[i].c_str(), static_cast<uint32_t>(i));
    uint64_t sum = 0;
    for (const auto& key : keys) {
      uint32_t value = 0;
      table.Get(key.c_str(), &value);
      sum += value;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeys));
}

void UnorderedMap_InsertLookup(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    std::unordered_map<std::string, uint32_t> table(kBuckets);
    for (size_t i = 0; i < keys.size(); ++i) table[keys[i]] = static_cast<uint32_t>(i);
    uint64_t sum = 0;
    for (const auto& key : keys) {
      auto it = table.find(key);
      sum += it->second;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kKeys));
}

BENCHMARK(StreamBuf)->Arg(4096)->Arg(32768)->Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy)->Arg(4096)->Arg(32768)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamBufWarm)->Arg(4096)->Arg(32768)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyWarm)->Arg(4096)->Arg(32768)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamMixed)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainFile)->Unit(benchmark::kMillisecond);
BENCHMARK(HashTable_InsertLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(UnorderedMap_InsertLookup)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
