// Commands used by the command tests: one with a request and a response
// parameter of every type plus binary request parameters. Serving (Process),
// its Execute echoes the request into the response; on the client (Send) it
// keeps the base behaviour, so what the client holds afterwards came over
// the wire.
#pragma once

#include <string>

#include "commands/command.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace testing_ {

class EchoCommand : public CTarvixPipeCommand {
public:
  // Request side.
  CBoolParam flag{"FLAG", false};
  CIntParam number{"NUMBER", 0};
  CByteParam small{"SMALL", 0};
  CULongParam sigid{"SIGID", 0};
  CULongLongParam big{"BIG", 0};
  CStringParam text{"TEXT", ""};
  CBinaryParam data;
  CBinaryParam extra;
  // Response side.
  CBoolParam rFlag{"R_FLAG", false};
  CIntParam rNumber{"R_NUMBER", -1};
  CByteParam rSmall{"R_SMALL", 0};
  CULongParam rSigid{"R_SIGID", 0};
  CULongLongParam rBig{"R_BIG", 0};
  CStringParam rText{"R_TEXT", "none"};
  CULongLongParam rDataSize{"R_DATASIZE", 0};
  CULongParam rDataCrc{"R_DATACRC", 0};

  int32_t result = kReturnSuccess;  // what Execute returns on the server
  bool canRun = true;
  int executed = 0;
  int finished = 0;

  explicit EchoCommand(const char* name = "ECHO", bool withExtra = false)
      : CTarvixPipeCommand(name, 0) {
    AddRequestParam(flag);
    AddRequestParam(number);
    AddRequestParam(small);
    AddRequestParam(sigid);
    AddRequestParam(big);
    AddRequestParam(text);
    AddBinaryRequestParam(data);
    if (withExtra) AddBinaryRequestParam(extra);
    AddResponseParam(rFlag);
    AddResponseParam(rNumber);
    AddResponseParam(rSmall);
    AddResponseParam(rSigid);
    AddResponseParam(rBig);
    AddResponseParam(rText);
    AddResponseParam(rDataSize);
    AddResponseParam(rDataCrc);
  }

  bool CanRun(CCommandContext*) override { return canRun; }
  int32_t Process(CMyStream& reader, CMyStream& writer, CCommandContext* context) override {
    serving_ = true;
    int32_t code = CTarvixPipeCommand::Process(reader, writer, context);
    serving_ = false;
    return code;
  }
  int32_t Execute(CCommandContext* context) override {
    ++executed;
    if (!serving_) return CTarvixPipeCommand::Execute(context);
    rFlag.Set(flag.Get());
    rNumber.Set(number.Get());
    rSmall.Set(small.Get());
    rSigid.Set(sigid.Get());
    rBig.Set(big.Get());
    rText.Set(text.Get().GetString());
    rDataSize.Set(static_cast<uint64_t>(data.Stream().GetSize()));
    rDataCrc.Set(data.Stream().Crc32());
    return result;
  }
  void Finish(CCommandContext*) override { ++finished; }

private:
  bool serving_ = false;
};

// Gives a list small DATA bounds (the rest as they are) and lets its
// blocks spill into the folder.
inline void LimitData(CCommandParams& list, const SpillFolder& folder, uint64_t dataBytes,
                      uint64_t dataMemory, uint64_t memoryThreshold) {
  CBlockLimits limits;
  limits.dataBytes = dataBytes;
  limits.dataMemory = dataMemory;
  limits.memoryThreshold = memoryThreshold;
  list.SetLimits(limits);
  list.SetSpillDirectory(folder.Name());
}

}  // namespace testing_
}  // namespace commands
}  // namespace tarvixlib
