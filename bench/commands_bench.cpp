// The pipe command wire format against plain baselines, measured in the
// same run:
//   DataBlock        a command carrying a 64 MiB DATA block: the client
//                    writes its request into a memory stream, the server
//                    reads it back into its binary parameter (the received
//                    block spills to a temporary file past 512 KiB, as it
//                    does on the pipe); against
//   Memcpy64MiB      memcpy of the same bytes (fresh destination each time).
//   SmallReply       a status line and ten name:value lines read into a
//                    command with ten response parameters (items = replies).
// Compare DataBlock's bytes per second with Memcpy64MiB's.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

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

// The client's bytes as they would be on the pipe, without the copy a
// stream would add: the block lives in the caller's memory.
void DataBlock(benchmark::State& state) {
  const std::vector<uint8_t>& block = Block();
  CMyStreamStaticBuffer source(const_cast<uint8_t*>(block.data()), block.size(), block.size(), 0);
  for (auto _ : state) {
    DataCommand client(&source);
    client.file.Set("mail.eml");
    CMyStreamBuf wire(1u << 20);
    static const char kReply[] = "100 1536\n.\n";
    CMyStreamStaticBuffer reply(const_cast<char*>(kReply), sizeof kReply - 1, sizeof kReply - 1, 0);
    if (client.Send(reply, wire, nullptr) != 100) state.SkipWithError("send failed");

    wire.Seek(0, nullptr, 0);
    CMyLineBuffer name;
    ReadWireLine(wire, name, kMaxParamLine);
    DataCommand server;
    CMyStreamBuf out;
    if (server.Process(wire, out, nullptr) != 100) state.SkipWithError("process failed");
    if (server.data.Stream().GetSize() != static_cast<int64_t>(kBlockBytes))
      state.SkipWithError("short block");
    benchmark::DoNotOptimize(server.data.Stream());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlockBytes));
}

void Memcpy64MiB(benchmark::State& state) {
  const std::vector<uint8_t>& block = Block();
  for (auto _ : state) {
    std::vector<uint8_t> copy(kBlockBytes);  // fresh memory, as the receiver's
    std::memcpy(copy.data(), block.data(), kBlockBytes);
    benchmark::DoNotOptimize(copy.data());
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

BENCHMARK(DataBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Memcpy64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SmallReply);

}  // namespace

BENCHMARK_MAIN();
