// Requests arrive from whoever holds the other end of the listener's pipe:
// a run of requests served one after the other by a command set, the way a
// listener session does. Whatever arrives, every reply written is well
// formed - a client reads each one completely - and the output stays in
// proportion to the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/commandset.h"
#include "logging/logcommand.h"

using namespace tarvixlib;
using namespace tarvixlib::commands;

namespace {

// Echoes typed values and the first DATA block into its response.
class EchoCommand : public CTarvixPipeCommand {
public:
  CStringParam text{"TEXT", ""};
  CULongParam sigid{"SIGID", 0};
  CIntParam number{"NUMBER", 0};
  CBoolParam flag{"FLAG", false};
  CBinaryParam data;
  CStringParam rText{"R_TEXT", ""};
  CULongLongParam rSize{"R_SIZE", 0};
  CBinaryParam rData;

  EchoCommand() : CTarvixPipeCommand("ECHO", 0) {
    AddRequestParam(text);
    AddRequestParam(sigid);
    AddRequestParam(number);
    AddRequestParam(flag);
    AddBinaryRequestParam(data);
    AddResponseParam(rText);
    AddResponseParam(rSize);
    AddBinaryResponseParam(rData);
  }
  int32_t Execute(CCommandContext*) override {
    rText.Set(text.Get().GetString());
    rSize.Set(static_cast<uint64_t>(data.Stream().GetSize()));
    rData.Reset();
    data.Stream().Seek(0, nullptr, 0);
    CMyStream::CopyStream(data.Stream(), rData.Stream(), CMyStream::kAll);
    rData.Stream().Sync();
    // Codes from the request reach the status line too.
    return number.Get() ? number.Get() : kReturnSuccess;
  }
};

class RefusingCommand : public CTarvixPipeCommand {
public:
  CStringParam out{"OUT", "x"};
  RefusingCommand() : CTarvixPipeCommand("STOP_APPLICATION", 0) { AddResponseParam(out); }
  bool CanRun(CCommandContext*) override { return false; }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CCommandSet set;
  set.Add(new EchoCommand());
  set.Add(new CNopCommand());
  set.Add(new CLogCommand());
  set.Add(new RefusingCommand());
  CCommandContext session;
  CMyStreamStaticBuffer in(const_cast<uint8_t*>(data), size, size, 0);
  CMyStreamBuf out;
  CMyLineBuffer line;
  size_t requests = 0;
  while (!session.IsYes("${STOP}")) {
    if (ReadWireLine(in, line, kMaxParamLine) != LineResult::kLine) break;
    ++requests;
    CMyStringA name(line.Text());
    if (set.Dispatch(name.GetString(), in, out, &session, /*answerUnknown=*/true) ==
        ServeResult::kTransportFailed)
      break;
  }
  Check(requests <= size);

  // Every reply parses as a whole: a status line, a block, the terminator.
  out.Sync();
  int64_t written = out.GetSize();
  // Each request of n bytes yields at most its echo, two status-line and
  // DATA-line headers and a handful of fixed lines.
  Check(written <= static_cast<int64_t>(2 * size + 128 * (requests + 1)));
  out.Seek(0, nullptr, 0);
  CTarvixPipeCommand reader("ANY", 0);
  CStringParam rText{"R_TEXT", ""};
  CBinaryParam rData;
  reader.AddResponseParam(rText);
  reader.AddBinaryResponseParam(rData);
  while (out.SeekBuffered(0, 1) < written) Check(reader.ReadResponse(out));
  return 0;
}
