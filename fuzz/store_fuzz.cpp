// A parameter block arrives from a peer that pushes at its bounds: many
// names (also names chosen to share a hash), many list items and DATA
// blocks, announced sizes up to 2^64 - 1. Read with the real count bounds
// and small byte bounds (so that inputs of a few hundred KiB reach them),
// the store never holds more than the bounds allow, keeps its chains short,
// keeps only its memory share in memory, leaves nothing in its spill
// folder once freed, and ends the block where a drain of the same bytes
// ends it. Run with -max_len=262144 (fuzz/store_fuzz.options).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "commands/params.h"

using namespace tarvixlib;
using namespace tarvixlib::commands;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

CBlockLimits Limits() {
  CBlockLimits limits;  // the counts as they are
  limits.valueBytes = 96 * 1024;
  limits.dataBytes = 64 * 1024;
  limits.dataMemory = 16 * 1024;
  limits.memoryThreshold = 4096;
  return limits;
}

// The spill folder of this process, made for each input and removed again
// (it must be empty by then).
const std::filesystem::path& SpillFolder() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarvix-store-fuzz-" + std::to_string(getpid()));
  return folder;
}

// What the DATA streams of one store hold, in bytes and in memory.
void AddUp(CParameterStore& store, const CBlockLimits& limits, uint64_t* bytes,
           uint64_t* memory, size_t* streams) {
  for (size_t i = 0; i < store.StreamCount(); ++i) {
    auto* s = dynamic_cast<CMyStreamMixed*>(store.StreamAt(i));
    Check(s != nullptr);
    int64_t size = s->GetSize();
    Check(size >= 0);
    *bytes += static_cast<uint64_t>(size);
    if (s->IsInMemory()) {
      Check(static_cast<uint64_t>(size) <= limits.memoryThreshold);
      *memory += static_cast<uint64_t>(size);
    }
    ++*streams;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const CBlockLimits limits = Limits();
  std::filesystem::create_directories(SpillFolder());
  std::u16string folder = SpillFolder().u16string() + u"/";
  int64_t endOfBlock = -1;
  {
    CCommandParams list;
    list.SetLimits(limits);
    list.SetSpillDirectory(folder.c_str());
    CMyStreamStaticBuffer in(const_cast<uint8_t*>(data), size, size, 0);
    bool ok = list.ReadBlock(in);
    if (ok) endOfBlock = in.SeekBuffered(0, 1);

    CParameterStore& store = list.Store();
    Check(store.ValueCount() <= limits.values);
    Check(store.ListCount() <= limits.listItems);
    uint64_t bytes = 0, memory = 0;
    size_t streams = 0, values = store.ValueCount(), longest = store.LongestChain();
    AddUp(store, limits, &bytes, &memory, &streams);
    for (size_t i = 0; i < store.ListCount(); ++i) {
      CParameterStore* item = store.ListItem(i);
      Check(item && item->ListCount() == 0);
      values += item->ValueCount();
      if (item->LongestChain() > longest) longest = item->LongestChain();
      AddUp(*item, limits, &bytes, &memory, &streams);
    }
    Check(values <= limits.values);
    Check(streams <= limits.dataBlocks);
    Check(bytes <= limits.dataBytes && bytes <= size);
    Check(memory <= limits.dataMemory);
    // Load at most one name per bucket: 32 in one chain has odds below
    // 1e-30 whatever the names.
    Check(longest <= 32);
  }
  std::error_code error;
  Check(std::filesystem::remove(SpillFolder(), error));  // fails unless empty

  // A drain of the same bytes follows the same structure: where a read
  // succeeded, it succeeds and ends at the same byte.
  CMyStreamStaticBuffer again(const_cast<uint8_t*>(data), size, size, 0);
  CMyLineBuffer line;
  bool drained = DrainBlock(again, line, limits);
  if (endOfBlock >= 0) Check(drained && again.SeekBuffered(0, 1) == endOfBlock);
  return 0;
}
