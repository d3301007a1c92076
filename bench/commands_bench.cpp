// The pipe command wire format against plain baselines, measured in the
// same run:
//   DataBlock/reused_wire:0
//       A command carrying a 64 MiB DATA block: the client writes its request
//       into a new memory stream, the server reads it back into its binary
//       parameter (the received block spills to a temporary file past
//       512 KiB, as it does on the pipe, and ReadFrom copies it into the
//       parameter's own buffer).
//   DataBlock/reused_wire:1
//       The same, with the client writing over one memory stream kept across
//       iterations, as a pipe's buffer is: only the receiver's memory is new.
//   PlainPath/reused_wire:0 and :1
//       The passes a received block makes by design, with plain calls and no
//       protocol: memcpy into the wire (new or kept, as above), write(2) from
//       it into a temporary file in 64 KiB pieces, read(2) back into new
//       memory. DataBlock against PlainPath is what the protocol adds.
//   Memcpy64MiB
//       memcpy of the same bytes into new, untouched memory.
//   SmallReply
//       A status line and ten name:value lines read into a command with ten
//       response parameters (items = replies).
//   ManyNames/colliding:0 and :1
//       A block of 65,536 names of 32 characters, random (0) or all with one
//       HashNameNoCase value (1), read into a parameter list and freed again
//       (items = names). Names chosen to collide must cost what any names
//       cost: compare the two.
// Compare bytes per second: DataBlock with PlainPath and with Memcpy64MiB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "commands/command.h"

namespace {

using namespace tarvixlib;
using namespace tarvixlib::commands;

constexpr size_t kBlockBytes = 64u << 20;

const std::vector<uint8_t>& Block() {
  static std::vector<uint8_t> block = [] {
    std::vector<uint8_t> b(kBlockBytes);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 131 + i / 4093);
    return b;
  }();
  return block;
}

class DataCommand : public CTarvixPipeCommand {
public:
  CStringParam file{"FILE", ""};
  CBinaryParam data;
  explicit DataCommand(CMyStream* external = nullptr)
      : CTarvixPipeCommand("SCAN_EMAIL", 0), data(external) {
    AddRequestParam(file);
    AddBinaryRequestParam(data);
  }
};

// One exchange: the client writes the request into `wire` from its start,
// the server reads it back. False when either side fails.
bool SendAndReceive(CMyStreamStaticBuffer& source, CMyStreamBuf& wire) {
  source.Seek(0, nullptr, 0);
  wire.Seek(0, nullptr, 0);
  DataCommand client(&source);
  client.file.Set("mail.eml");
  static const char kReply[] = "100 1536\n.\n";
  CMyStreamStaticBuffer reply(const_cast<char*>(kReply), sizeof kReply - 1, sizeof kReply - 1, 0);
  if (client.Send(reply, wire, nullptr) != 100) return false;

  wire.Seek(0, nullptr, 0);
  CMyLineBuffer name;
  ReadWireLine(wire, name, kMaxParamLine);
  DataCommand server;
  CMyStreamBuf out;
  if (server.Process(wire, out, nullptr) != 100) return false;
  benchmark::DoNotOptimize(server.data.Stream());
  return server.data.Stream().GetSize() == static_cast<int64_t>(kBlockBytes);
}

// The block lives in the caller's memory, so the client's side adds no
// copy of its own. Argument 0: a new wire stream per exchange; 1: one wire
// stream reused.
void DataBlock(benchmark::State& state) {
  const std::vector<uint8_t>& block = Block();
  CMyStreamStaticBuffer source(const_cast<uint8_t*>(block.data()), block.size(), block.size(), 0);
  const bool reuseWire = state.range(0) != 0;
  CMyStreamBuf keptWire(1u << 20);
  for (auto _ : state) {
    CMyStreamBuf freshWire(1u << 20);
    if (!SendAndReceive(source, reuseWire ? keptWire : freshWire)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlockBytes));
}

void Memcpy64MiB(benchmark::State& state) {
  const std::vector<uint8_t>& block = Block();
  for (auto _ : state) {
    // New and untouched, as the receiver's memory is: the copy itself
    // takes the page faults.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[kBlockBytes]);
    std::memcpy(copy.get(), block.data(), kBlockBytes);
    benchmark::DoNotOptimize(copy.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlockBytes));
}

void PlainPath(benchmark::State& state) {
  const std::vector<uint8_t>& block = Block();
  const bool reuseWire = state.range(0) != 0;
  std::unique_ptr<uint8_t[]> keptWire(new uint8_t[kBlockBytes]);
  constexpr size_t kPiece = 65536;
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> freshWire(reuseWire ? nullptr : new uint8_t[kBlockBytes]);
    uint8_t* wire = reuseWire ? keptWire.get() : freshWire.get();
    std::memcpy(wire, block.data(), kBlockBytes);

    std::FILE* file = std::tmpfile();  // deleted when closed, like the spill file
    if (!file) {
      state.SkipWithError("no temporary file");
      break;
    }
    int fd = fileno(file);
    bool ok = true;
    for (size_t done = 0; ok && done < kBlockBytes; done += kPiece)
      ok = ::write(fd, wire + done, kPiece) == static_cast<ssize_t>(kPiece);
    ok = ok && ::lseek(fd, 0, SEEK_SET) == 0;
    std::unique_ptr<uint8_t[]> received(new uint8_t[kBlockBytes]);
    for (size_t done = 0; ok && done < kBlockBytes; done += kPiece)
      ok = ::read(fd, received.get() + done, kPiece) == static_cast<ssize_t>(kPiece);
    std::fclose(file);
    if (!ok) {
      state.SkipWithError("temporary file failed");
      break;
    }
    benchmark::DoNotOptimize(received.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlockBytes));
}

class TenValues : public CTarvixPipeCommand {
public:
  CStringParam scanret{"SCANRET", ""};
  CULongParam sigid{"SIGID", 0};
  CStringParam virus{"VIRUSNAME", ""};
  CULongLongParam size{"SIZE", 0};
  CBoolParam deleted{"DELETED", false};
  CIntParam level{"SPAMLEVEL", 0};
  CStringParam file{"FILE", ""};
  CULongParam flags{"FLAGS", 0};
  CStringParam engine{"ENGINE", ""};
  CByteParam kind{"KIND", 0};
  TenValues() : CTarvixPipeCommand("SCAN_EMAIL", 0) {
    for (CNamedParam* p : std::initializer_list<CNamedParam*>{
             &scanret, &sigid, &virus, &size, &deleted, &level, &file, &flags, &engine, &kind})
      AddResponseParam(*p);
  }
};

void SmallReply(benchmark::State& state) {
  const std::string reply =
      "100 1536\nSCANRET:VIRUS\nSIGID:4711\nVIRUSNAME:EICAR-Test-File\nSIZE:68\nDELETED:yes\n"
      "SPAMLEVEL:-1\nFILE:invoice.pdf.exe\nFLAGS:3\nENGINE:6.2.1\nKIND:2\n.\n";
  TenValues command;
  CMyStreamStaticBuffer in(const_cast<char*>(reply.data()), reply.size(), reply.size(), 0);
  for (auto _ : state) {
    in.SeekBuffered(0, 0);
    if (!command.ReadResponse(in)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(command.sigid.Get());
  }
  if (command.sigid.Get() != 4711 || !command.deleted.Get()) state.SkipWithError("wrong values");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// 65,536 names of 32 characters, each on a "name:v" line, then ".". The
// colliding ones join 16 pieces "AP" or "B/", which hash alike.
const std::string& NameBlock(bool colliding) {
  static std::string wires[2];
  std::string& wire = wires[colliding ? 1 : 0];
  if (!wire.empty()) return wire;
  uint32_t seed = 12345;
  for (uint32_t i = 0; i < 65536; ++i) {
    for (int piece = 0; piece < 16; ++piece) {
      if (colliding) {
        wire += (i >> piece) & 1 ? "B/" : "AP";
      } else {
        for (int c = 0; c < 2; ++c) {
          seed = seed * 1103515245u + 12345u;
          wire += static_cast<char>('A' + (seed >> 16) % 26);
        }
      }
    }
    wire += ":v\n";
  }
  wire += ".\n";
  return wire;
}

void ManyNames(benchmark::State& state) {
  const std::string& wire = NameBlock(state.range(0) != 0);
  CMyStreamStaticBuffer in(const_cast<char*>(wire.data()), wire.size(), wire.size(), 0);
  for (auto _ : state) {
    in.SeekBuffered(0, 0);
    CCommandParams list;  // parsed, then freed when it goes
    if (!list.ReadBlock(in) || list.Store().ValueCount() != 65536) {
      state.SkipWithError("parse failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 65536));
}

BENCHMARK(DataBlock)->ArgName("reused_wire")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainPath)->ArgName("reused_wire")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Memcpy64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SmallReply);
BENCHMARK(ManyNames)->ArgName("colliding")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
