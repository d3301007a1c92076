// tarvix-demo-client.exe: sends a few commands through the add-in's command
// client to the service and prints what came back. Used by the demo.
//
//   tarvix-demo-client [--pipe NAME]
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "comm/client.h"
#include "commands/scancommands.h"

namespace {

using namespace tarvixlib::commands;
using tarvixlib::CMyStreamBuf;

const char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

void ScanFile(comm::CSimpleTarvixComm& client, const char* file, const std::string& content) {
  tarvixservice::CScanEmailCommand scan;
  scan.file.Set(file);
  scan.from.Set("anna@example.com");
  scan.subject.Set("Documents for Monday");
  scan.content.SetBytes(content.data(), content.size());
  comm::host::SendResult result = client.SendLocal(scan, false, nullptr);
  std::printf("SCAN_EMAIL %-12s %s, code %d: %s", file, comm::host::SendResultName(result),
              scan.GetReturnCode(),
              scan.IsVirus() ? "infected" : scan.IsIgnored() ? "not scanned" : "clean");
  if (scan.IsVirus()) std::printf(" (%s)", scan.sigName.Get().GetString());
  if (scan.IsIgnored()) std::printf(" (%s)", scan.errorString.Get().GetString());
  std::printf("\n");
}

void CheckSpam(comm::CSimpleTarvixComm& client, const char* subject, const std::string& body) {
  std::string mime = std::string("Subject: ") + subject + "\r\nFrom: <a@example.com>\r\n\r\n" + body;
  CMyStreamBuf document;
  document.Write(mime.data(), mime.size());
  tarvixservice::CScanSpamCommand spam(&document);
  spam.subject.Set(subject);
  spam.from.Set("<a@example.com> Anna");
  spam.to.Set("me@example.com");
  comm::host::SendResult result = client.SendLocal(spam, false, nullptr);
  static const char* verdicts[] = {"no spam", "possible spam", "spam"};
  std::printf("SCAN_SPAM  %-22s %s, code %d: %s\n", subject, comm::host::SendResultName(result),
              spam.GetReturnCode(), verdicts[spam.Verdict()]);
}

}  // namespace

int main(int argc, char** argv) {
  const char* pipe = tarvixlib::comm::kServicePipeName;
  if (argc == 3 && std::strcmp(argv[1], "--pipe") == 0) pipe = argv[2];
  comm::CSimpleTarvixComm client;
  client.Dispatcher().SetPipeName(pipe);

  struct Status : CTarvixPipeCommand {
    CStringParam mainPath{"MAIN_PATH_W", ""};
    Status() : CTarvixPipeCommand("GET_TARVIXSTATUS", 0) { AddResponseParam(mainPath); }
  } status;
  comm::host::SendResult result = client.SendLocal(status, false, nullptr);
  std::printf("GET_TARVIXSTATUS %s, code %d, MAIN_PATH_W \"%s\"\n",
              comm::host::SendResultName(result), status.GetReturnCode(),
              status.mainPath.Get().GetString());

  ScanFile(client, "eicar.com", std::string(kEicar) + "\r\n");
  ScanFile(client, "invoice.pdf", "%PDF-1.4 an honest invoice");
  ScanFile(client, "secret.zip", "PK\x03\x04 encrypted");
  CheckSpam(client, "Lunch on Friday?", "See you at noon.\r\n");
  CheckSpam(client, "You have won", std::string(kGtube) + "\r\n");

  client.PipeLog().LogInfo("Demo: %d attachments scanned, %d mails checked", 3, 2);
  std::printf("LOG        %s, code %d\n", "sent", client.PipeLog().LastCode());
  std::printf("kept connections: %u\n", static_cast<unsigned>(client.Count()));
  return 0;  // the client says goodbye on its kept connection as it goes
}
