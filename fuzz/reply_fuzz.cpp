// A reply arrives from the service: any bytes read into a command with a
// parameter of every type and two binary parameters. The exchange ends
// with a code, nothing grows beyond what arrived, and whatever was taken
// from a complete reply is written back by a server and read again to the
// very same values.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/command.h"

using namespace tarvixlib;
using namespace tarvixlib::commands;

namespace {

class ReplyCommand : public CTarvixPipeCommand {
public:
  CStringParam file{"FILE", ""};
  CBoolParam flag{"R_FLAG", false};
  CIntParam number{"R_NUMBER", -1};
  CByteParam small{"R_SMALL", 7};
  CULongParam sigid{"SIGID", 11};
  CULongLongParam big{"R_BIG", 13};
  CStringParam scanret{"SCANRET", "none"};
  CBinaryParam first, second;
  int32_t serverCode = 100;

  ReplyCommand() : CTarvixPipeCommand("SCAN_EMAIL", 0) {
    AddRequestParam(file);
    AddResponseParam(flag);
    AddResponseParam(number);
    AddResponseParam(small);
    AddResponseParam(sigid);
    AddResponseParam(big);
    AddResponseParam(scanret);
    AddBinaryResponseParam(first);
    AddBinaryResponseParam(second);
    AddReturnMessage(800, 1326);
  }
  // Serving, the response keeps what it was given (no reset by Process
  // matters here: Execute puts the values back).
  ReplyCommand* source = nullptr;
  int32_t Execute(CCommandContext* context) override {
    if (!source) return CTarvixPipeCommand::Execute(context);
    flag.Set(source->flag.Get());
    number.Set(source->number.Get());
    small.Set(source->small.Get());
    sigid.Set(source->sigid.Get());
    big.Set(source->big.Get());
    scanret.Set(source->scanret.Get().GetString());
    Copy(source->first, first);
    Copy(source->second, second);
    return serverCode;
  }
  static void Copy(CBinaryParam& from, CBinaryParam& to) {
    to.Reset();
    from.Stream().Seek(0, nullptr, 0);
    CMyStream::CopyStream(from.Stream(), to.Stream(), CMyStream::kAll);
    to.Stream().Sync();
    to.Stream().Seek(0, nullptr, 0);
  }
};

std::string Content(CMyStream& s) {
  s.Sync();
  s.Seek(0, nullptr, 0);
  std::string out;
  char piece[4096];
  for (size_t n; (n = s.Read(piece, sizeof piece)) > 0;) out.append(piece, n);
  s.Seek(0, nullptr, 0);
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReplyCommand client;
  client.file.Set("a.txt");
  CMyStreamStaticBuffer in(const_cast<uint8_t*>(data), size, size, 0);
  CMyStreamBuf request;
  int32_t code = client.Send(in, request, nullptr);
  Check(Content(request) == "SCAN_EMAIL\nFILE:a.txt\n.\n");
  Check(client.GetReturnCode() == code);
  Check(client.first.Stream().GetSize() <= static_cast<int64_t>(size));
  Check(client.second.Stream().GetSize() <= static_cast<int64_t>(size));
  Check(client.scanret.Get().GetLength() < kMaxParamLine);
  if (code == kReturnFailed) return 0;

  // A complete reply: a server writes the same values, a second client
  // reads them back unchanged.
  ReplyCommand server;
  server.source = &client;
  server.serverCode = code;
  static const char kEmptyRequest[] = ".\n";
  CMyStreamStaticBuffer req(const_cast<char*>(kEmptyRequest), 2, 2, 0);
  CMyStreamBuf reply;
  Check(server.Process(req, reply, nullptr) == code);
  std::string wire = Content(reply);
  CMyStreamStaticBuffer back(&wire[0], wire.size(), wire.size(), 0);
  ReplyCommand again;
  CMyStreamBuf ignored;
  Check(again.Send(back, ignored, nullptr) == code);
  Check(again.flag.Get() == client.flag.Get());
  Check(again.number.Get() == client.number.Get());
  Check(again.small.Get() == client.small.Get());
  Check(again.sigid.Get() == client.sigid.Get());
  Check(again.big.Get() == client.big.Get());
  Check(std::strcmp(again.scanret.Get().GetString(), client.scanret.Get().GetString()) == 0);
  Check(Content(again.first.Stream()) == Content(client.first.Stream()));
  Check(Content(again.second.Stream()) == Content(client.second.Stream()));
  return 0;
}
