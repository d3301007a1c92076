#include "service.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "comm/session.h"
#include "commands/commandset.h"
#include "commands/scancommands.h"
#include "commands/wire.h"
#include "mapilib/languagemanager.h"
#include "foundation/asciitext.h"
#include "foundation/byteorder.h"
#include "logging/logcommand.h"
#include "logging/mylog.h"

namespace tarvixstandin {

using tarvixlib::CMyLineBuffer;
using tarvixlib::CMyStream;
using tarvixlib::CUniqueHandle;
using tarvixlib::comm::CTarvixSession;
namespace cmd = tarvixlib::commands;

const char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

namespace {

constexpr uint32_t kServerIoLimitMs = 0xFFFFFFFFu;  // a client may pause for ever
constexpr const char kStartListener[] = "START_LISTENER";

// The listener connection. Every wait on it is bounded and ends when the
// service stops.
constexpr uint32_t kOneWayWaitMs = 300;     // a notification must stay unanswered
constexpr uint32_t kListenerPollMs = 50;    // how soon a hang-up is seen
constexpr uint32_t kPushIoLimitMs = 5000;   // writing one push
constexpr size_t kMaxAnswerBytes = 65536;   // what is kept of one answer
constexpr size_t kMaxShownBytes = 400;      // what is printed of it

std::string Upper(const char* text) {
  std::string s(text ? text : "");
  tarvixlib::AsciiUpperInPlace(s.data(), s.size());
  return s;
}

// Waits for the stop event at most ms; true when the service stops.
bool Pause(HANDLE stop, uint32_t ms) { return WaitForSingleObject(stop, ms) == WAIT_OBJECT_0; }

// SCAN_EMAIL: the scenario's verdict for the file name, else EICAR at the
// start of the content is a virus, anything else is clean.
class CServedScanEmail : public cmd::tarvixservice::CScanEmailCommand {
public:
  explicit CServedScanEmail(CStandinService& service) : service_(service) {}
  int32_t Execute(cmd::CCommandContext*) override {
    attSaved.Set("");
    errorString.Set("");
    sigName.Set("");
    sigId.Set(0);
    if (const FileVerdict* v = service_.Scenario().FindFile(file.Get().GetString())) {
      scanRet.Set(v->scanRet.c_str());
      if (Upper(v->scanRet.c_str()) == "VIRUS") {
        sigName.Set(v->text.c_str());
        sigId.Set(1);
      } else {
        errorString.Set(v->text.c_str());
      }
    } else if (StartsWithEicar()) {
      scanRet.Set("VIRUS");
      sigName.Set("Eicar-Test-Signature");
      sigId.Set(0x4711);
    } else {
      scanRet.Set("OK");
    }
    service_.Print("  SCAN_EMAIL FILE=%s SIZE=%lld -> %s%s%s", file.Get().GetString(),
                   static_cast<long long>(content.Stream().GetSize()), scanRet.Get().GetString(),
                   sigName.Get().IsEmpty() ? "" : " ", sigName.Get().GetString());
    return cmd::kReturnSuccess;
  }

private:
  bool StartsWithEicar() {
    CMyStream& s = content.Stream();
    char head[sizeof kEicar - 1];
    if (s.SeekBuffered(0, SEEK_SET) != 0) return false;
    bool match = s.ReadExact(head, sizeof head) && std::memcmp(head, kEicar, sizeof head) == 0;
    s.SeekBuffered(0, SEEK_SET);
    return match;
  }
  CStandinService& service_;
};

// SCAN_SPAM: GTUBE anywhere gives level 2, else the level for the subject,
// else the scenario's default.
class CServedScanSpam : public cmd::tarvixservice::CScanSpamCommand {
public:
  explicit CServedScanSpam(CStandinService& service)
      : CScanSpamCommand(nullptr), service_(service) {}
  int32_t Execute(cmd::CCommandContext*) override {
    uint32_t level = service_.Scenario().spamLevel;
    for (const SpamRule& r : service_.Scenario().spam)
      if (r.subject == subject.Get().GetString()) level = r.level;
    CMyStream& s = document.Stream();
    s.SeekBuffered(0, SEEK_SET);
    if (s.FindString(kGtube)) level = 2;
    spamLevel.Set(level);
    spamPoints.Set(level * 500);
    service_.Print("  SCAN_SPAM SUBJECT=%s SIZE=%lld -> SPAMLEVEL %u", subject.Get().GetString(),
                   static_cast<long long>(s.GetSize()), level);
    return cmd::kReturnSuccess;
  }

private:
  CStandinService& service_;
};

// LOG: every received entry becomes one line of the log file,
// "<level name> <text>".
class CServedLog : public cmd::CLogCommand {
public:
  explicit CServedLog(CStandinService& service) : service_(service) {
    Buffer().EnableAllLevels();  // the service keeps what the sender chose to send
  }
  int32_t Execute(cmd::CCommandContext*) override {
    tarvixlib::CMyLogBuf& entries = Buffer();
    tarvixlib::CMySynchronizedBlock<tarvixlib::CMyThreadSave> hold(entries.EntryLock());
    for (size_t i = 0; i < entries.Count(); ++i) {
      service_.AppendLog(std::string(tarvixlib::LogLevelName(entries.LevelAt(i))) + " " +
                         entries.TextAt(i));
    }
    service_.Print("  LOG %u entries", static_cast<unsigned>(entries.Count()));
    return cmd::kReturnSuccess;
  }

private:
  CStandinService& service_;
};

// A command answered from the scenario: its code and its values.
class CScriptedReply : public cmd::CTarvixPipeCommand {
public:
  explicit CScriptedReply(const ScriptedCommand& script)
      : CTarvixPipeCommand(script.name.c_str(), 0), script_(script) {
    for (const ScriptedValue& v : script.values) {
      values_.emplace_back(new cmd::CStringParam(v.key.c_str(), ""));
      AddResponseParam(*values_.back());
    }
  }
  int32_t Execute(cmd::CCommandContext*) override {
    for (size_t i = 0; i < values_.size(); ++i) values_[i]->Set(script_.values[i].text.c_str());
    return script_.code;
  }

private:
  const ScriptedCommand& script_;
  std::vector<std::unique_ptr<cmd::CStringParam>> values_;
};

// A command without a scenario entry: drains its request, answers 100.
class CPlainReply : public cmd::CTarvixPipeCommand {
public:
  explicit CPlainReply(const char* name) : CTarvixPipeCommand(name, 0) {}
  int32_t Execute(cmd::CCommandContext*) override { return cmd::kReturnSuccess; }
};

// Reads the rest of a request up to its DATA line, then half of the
// announced bytes: the picture of a service that dies while receiving.
void ReadIntoData(CMyStream& reader, CMyLineBuffer& line) {
  for (;;) {
    if (cmd::ReadWireLine(reader, line, cmd::kMaxParamLine) != cmd::LineResult::kLine) return;
    if (std::strncmp(line.Text(), "DATA ", 5) == 0) break;
    if (std::strcmp(line.Text(), ".") == 0) return;
  }
  unsigned long long size = std::strtoull(line.Text() + 5, nullptr, 10);
  char piece[4096];
  for (unsigned long long left = size / 2; left > 0;) {
    size_t n = left < sizeof piece ? static_cast<size_t>(left) : sizeof piece;
    if (!reader.ReadExact(piece, n)) return;
    left -= n;
  }
}

// A pushed command: the name as given and its parameters as text.
class CPushedCommand : public cmd::CTarvixPipeCommand {
public:
  explicit CPushedCommand(const ListenerPush& push) : CTarvixPipeCommand(push.name.c_str(), 0) {
    for (const ScriptedValue& p : push.params) {
      params_.emplace_back(new cmd::CStringParam(p.key.c_str(), ""));
      AddRequestParam(*params_.back());
      params_.back()->Set(p.text.c_str());
    }
  }

private:
  std::vector<std::unique_ptr<cmd::CStringParam>> params_;
};

// What the add-in wrote after a push.
struct Answer {
  std::string bytes;
  bool complete = false;  // a reply up to its "." line arrived
  bool gone = false;      // the add-in hung up
  bool stopped = false;   // the service stops
};

// Where a reply ends in the bytes, just after its "." line; npos when it
// has not ended yet.
size_t ReplyEnd(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') continue;
    text += bytes[i];
    size_t n = text.size();
    if (n >= 3 && text.compare(n - 3, 3, "\n.\n") == 0) return i + 1;
  }
  return std::string::npos;
}

// Collects what arrives within waitMs, at most kMaxAnswerBytes; with
// wantReply it ends as soon as a whole reply is there. Reads only what the
// pipe reports as there, with the stream's unbuffered primitive: a buffered
// read could keep bytes the pipe no longer reports, or wait for more. (The
// read buffer holds bytes only when a client wrote past START_LISTENER
// before its reply; they are left unread.)
Answer CollectAnswer(CMyStream& reader, HANDLE pipe, HANDLE stop, uint32_t waitMs,
                     bool wantReply) {
  Answer answer;
  ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
      answer.gone = true;
      break;
    }
    if (available > 0 && answer.bytes.size() < kMaxAnswerBytes) {
      char piece[4096];
      size_t want = available < sizeof piece ? available : sizeof piece;
      if (want > kMaxAnswerBytes - answer.bytes.size()) want = kMaxAnswerBytes - answer.bytes.size();
      size_t got = reader.Read(piece, want);
      if (got == 0) {
        answer.gone = true;
        break;
      }
      answer.bytes.append(piece, got);
      if (wantReply && ReplyEnd(answer.bytes) != std::string::npos) {
        answer.complete = true;
        break;
      }
      continue;
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    ULONGLONG left = deadline - now;
    if (Pause(stop, left < 10 ? static_cast<uint32_t>(left) : 10)) {
      answer.stopped = true;
      break;
    }
  }
  return answer;
}

// Bytes as one printable line: control bytes escaped, cut at kMaxShownBytes.
std::string Escape(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < kMaxShownBytes; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else if (c < 0x20 || c > 0x7E || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  if (bytes.size() > kMaxShownBytes) text += "...";
  return text;
}

// A whole reply as "status | KEY:VALUE | ..." (without its "." line), and
// what came after it.
std::string ShowReply(const std::string& bytes) {
  size_t end = ReplyEnd(bytes);
  std::string text, line;
  for (size_t i = 0; i < end; ++i) {
    char c = bytes[i];
    if (c == '\r') continue;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (line != ".") text += (text.empty() ? "" : " | ") + Escape(line);
    line.clear();
  }
  if (end < bytes.size()) text += " + unexpected: " + Escape(bytes.substr(end));
  return text;
}

// Blocks until the peer hangs up or the service stops.
void WaitForHangUp(CMyStream& reader) {
  char byte;
  while (reader.ReadBuffered(&byte, 1) == 1) {
  }
}

}  // namespace

CStandinService::CStandinService(const ServiceScenario& scenario, const std::string& pipeName,
                                 const std::string& logPath, FILE* out)
    : scenario_(scenario),
      path_(tarvixlib::comm::PipePath(tarvixlib::comm::kLocalHost, pipeName.c_str()).GetString()),
      logPath_(logPath),
      out_(out),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CStandinService::~CStandinService() {
  Stop();
  for (const CUniqueHandle& t : threads_) WaitForSingleObject(t.Get(), 10000);
  if (timeline_) WaitForSingleObject(timeline_.Get(), 10000);
}

void CStandinService::Stop() { SetEvent(stop_.Get()); }

void CStandinService::Print(const char* format, ...) {
  char text[8192];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard<std::mutex> hold(lock_);
  std::fprintf(out_, "%s\n", text);
  std::fflush(out_);
}

void CStandinService::AppendLog(const std::string& entry) {
  if (logPath_.empty()) return;
  std::lock_guard<std::mutex> hold(lock_);
  if (FILE* f = std::fopen(logPath_.c_str(), "ab")) {
    std::fwrite(entry.data(), 1, entry.size(), f);
    if (entry.empty() || entry.back() != '\n') std::fputc('\n', f);
    std::fclose(f);
  }
}

bool CStandinService::Run() {
  CUniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  int number = 0;
  bool first = true;
  while (WaitForSingleObject(stop_.Get(), 0) != WAIT_OBJECT_0) {
    tarvixlib::comm::CUniqueConnection pipe = tarvixlib::comm::OwnPipe(
        CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                         65536, 65536, 0, nullptr));
    if (!pipe) {
      Print("cannot create %s: error %lu", path_.c_str(), GetLastError());
      if (first) return false;
      if (Pause(stop_.Get(), 100)) break;
      continue;
    }
    if (first) Print("listening on %s", path_.c_str());
    first = false;
    HANDLE h = pipe.Get().value;
    OVERLAPPED overlapped = {};
    ResetEvent(connected.Get());
    overlapped.hEvent = connected.Get();
    bool ok = ConnectNamedPipe(h, &overlapped) != 0;
    if (!ok) {
      DWORD error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) {
        ok = true;
      } else if (error == ERROR_IO_PENDING) {
        HANDLE waits[2] = {connected.Get(), stop_.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
          DWORD ignored = 0;
          ok = GetOverlappedResult(h, &overlapped, &ignored, FALSE) != 0;
        } else {
          CancelIo(h);
          DWORD ignored = 0;
          GetOverlappedResult(h, &overlapped, &ignored, TRUE);
        }
      }
    }
    if (!ok) continue;
    auto* client = new Client{this, std::move(pipe), ++number};
    CUniqueHandle thread(CreateThread(nullptr, 0, ServeThread, client, 0, nullptr));
    if (!thread) {
      delete client;
      continue;
    }
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < threads_.size();) {  // forget the sessions that ended
      if (WaitForSingleObject(threads_[i].Get(), 0) == WAIT_OBJECT_0)
        threads_.erase(threads_.begin() + static_cast<long>(i));
      else
        ++i;
    }
    threads_.push_back(std::move(thread));
  }
  return true;
}

DWORD WINAPI CStandinService::ServeThread(void* param) {
  std::unique_ptr<Client> client(static_cast<Client*>(param));
  client->service->Serve(std::move(client->pipe), client->number);
  return 0;
}

bool CStandinService::SendReply(CMyStream& reply, CMyStream& writer, const ServiceFault* trickle,
                                int number, const char* name) {
  reply.Seek(0, nullptr, 0);
  if (!trickle) {
    uint64_t size = static_cast<uint64_t>(reply.GetSize());
    return CMyStream::CopyStream(reply, writer, CMyStream::kAll) == size &&
           cmd::FlushWriter(writer);
  }
  Print("[%d] %s: trickling the reply", number, name);
  int byte;
  while ((byte = reply.ReadByte()) >= 0) {
    uint8_t b = static_cast<uint8_t>(byte);
    if (!cmd::WriteBytes(writer, &b, 1) || !cmd::FlushWriter(writer)) {
      Print("[%d] %s: the client left during the reply", number, name);
      return false;
    }
    if (Pause(stop_.Get(), trickle->delayMs)) return false;
  }
  return true;
}

void CStandinService::Serve(tarvixlib::comm::CUniqueConnection pipe, int number) {
  HANDLE h = pipe.Get().value;
  CTarvixSession session(/*polite=*/false);
  session.Attach(std::move(pipe), stop_.Get(), kServerIoLimitMs);
  CMyStream& reader = session.ReadStream();
  CMyStream& writer = session.WriteStream();

  // The handshake: our own code unless the scenario bends it.
  if (scenario_.handshakeVersion == tarvixlib::comm::kHandshakeVersion &&
      scenario_.recordLength == tarvixlib::comm::kIdentityWireLength) {
    tarvixlib::comm::ServerHandshakeResult result = session.ServerHandshake(scenario_.appType);
    if (result != tarvixlib::comm::ServerHandshakeResult::kOk) {
      Print("[%d] handshake failed: %d", number, tarvixlib::comm::StepCode(result));
      session.Close(false);
      return;
    }
  } else {
    uint8_t word[4];
    tarvixlib::StoreLe32(word, scenario_.handshakeVersion);
    cmd::WriteBytes(writer, word, 4);
    if (scenario_.handshakeVersion == tarvixlib::comm::kHandshakeVersion) {
      tarvixlib::comm::ConnectParams own;
      own.appType = scenario_.appType;
      own.processId = GetCurrentProcessId();
      tarvixlib::comm::IdentityRecord record;
      tarvixlib::comm::BuildOwnIdentityRecord(own, record);
      tarvixlib::StoreLe32(word, scenario_.recordLength);
      cmd::WriteBytes(writer, word, 4);
      uint32_t body = scenario_.recordLength > 8 ? scenario_.recordLength - 8 : 0;
      if (body > 8192) body = 8192;
      std::vector<uint8_t> bytes(body, 0);
      std::memcpy(bytes.data(), record.bytes, body < sizeof record.bytes ? body : sizeof record.bytes);
      cmd::WriteBytes(writer, bytes.data(), bytes.size());
    }
    cmd::FlushWriter(writer);
    // Whatever the client answers, take its first word and show it.
    uint8_t answer[4] = {};
    bool got = reader.ReadExact(answer, 4);
    uint32_t value = tarvixlib::LoadLe32(answer);
    Print("[%d] handshake version %u length %u: client answered %s%u", number,
          scenario_.handshakeVersion, scenario_.recordLength, got ? "" : "nothing ", value);
    bool accepted = scenario_.handshakeVersion == tarvixlib::comm::kHandshakeVersion &&
                    scenario_.recordLength >= tarvixlib::comm::kMinRecordLength &&
                    scenario_.recordLength <= tarvixlib::comm::kMaxRecordLength && got;
    if (!accepted) {
      WaitForHangUp(reader);
      session.Close(false);
      Print("[%d] closed", number);
      return;
    }
    uint8_t length[4];
    if (!reader.ReadExact(length, 4)) {
      session.Close(false);
      return;
    }
    uint32_t n = tarvixlib::LoadLe32(length);
    if (n < tarvixlib::comm::kMinRecordLength || n > tarvixlib::comm::kMaxRecordLength) {
      session.Close(false);
      return;
    }
    std::vector<uint8_t> rest(n - tarvixlib::comm::kMinRecordLength);
    if (!reader.ReadExact(rest.data(), rest.size())) {
      session.Close(false);
      return;
    }
    tarvixlib::comm::IdentityRecord peer;
    std::memcpy(peer.bytes, rest.data(), rest.size() < sizeof peer.bytes ? rest.size() : sizeof peer.bytes);
    session.StoreIdentityRecord(peer);
  }
  Print("[%d] connected: type 0x%X (%s) pid %u", number, session.PeerAppType(),
        session.GetTypeName(), session.PeerProcessId());

  cmd::CCommandSet commands;
  commands.Add(new CServedScanEmail(*this));
  commands.Add(new CServedScanSpam(*this));
  commands.Add(new cmd::CNopCommand());
  commands.Add(new CServedLog(*this));
  for (const ScriptedCommand& script : scenario_.commands) commands.Add(new CScriptedReply(script));
  if (!commands.Find(kStartListener)) commands.Add(new CPlainReply(kStartListener));

  CMyLineBuffer line;
  for (;;) {
    cmd::LineResult r = cmd::ReadWireLine(reader, line, cmd::kMaxParamLine);
    if (r != cmd::LineResult::kLine) break;
    std::string name = line.Text();
    if (name.empty()) continue;
    const std::string upper = Upper(name.c_str());

    if (scenario_.FindFault(upper, FaultKind::kCloseMidData)) {
      ReadIntoData(reader, line);
      Print("[%d] %s: hanging up in the middle of the request", number, name.c_str());
      break;
    }
    if (scenario_.FindFault(upper, FaultKind::kNoReply)) {
      cmd::DrainBlock(reader, line);
      Print("[%d] %s: not answering", number, name.c_str());
      WaitForHangUp(reader);
      break;
    }
    if (scenario_.FindFault(upper, FaultKind::kCloseMidReply)) {
      cmd::DrainBlock(reader, line);
      static const char half[] = "100 1536\nSCANRET:VIR";
      cmd::WriteBytes(writer, half, sizeof half - 1);
      cmd::FlushWriter(writer);
      Print("[%d] %s: hanging up in the middle of the reply", number, name.c_str());
      break;
    }
    if (scenario_.FindFault(upper, FaultKind::kMalformedStatus)) {
      cmd::DrainBlock(reader, line);
      static const char bad[] = "100\n.\n";
      cmd::WriteBytes(writer, bad, sizeof bad - 1);
      cmd::FlushWriter(writer);
      Print("[%d] %s -> malformed status line", number, name.c_str());
      continue;
    }

    // The reply is made in memory first, so that it can be held back or
    // trickled as the scenario says.
    cmd::CTarvixPipeCommand* command = commands.Find(name.c_str());
    tarvixlib::CMyStreamBuf reply;
    bool alive = commands.Dispatch(name.c_str(), reader, reply, &session, true) !=
                 cmd::ServeResult::kTransportFailed;
    int code = command ? command->GetReturnCode() : cmd::kReturnUnknownCommand;
    if (const ServiceFault* f = scenario_.FindFault(upper, FaultKind::kDelay)) {
      Print("[%d] %s: holding the reply", number, name.c_str());
      if (Pause(stop_.Get(), f->delayMs)) break;
    }
    DWORD early = 0;
    if (PeekNamedPipe(h, nullptr, 0, nullptr, &early, nullptr) && early > 0)
      Print("[%d] %s: %lu bytes arrived before the reply", number, name.c_str(), early);
    if (!SendReply(reply, writer, scenario_.FindFault(upper, FaultKind::kTrickle), number,
                   name.c_str()))
      alive = false;
    Print("[%d] %s -> %d", number, name.c_str(), code);
    if (!alive || session.IsYes("${STOP}")) break;
    if (upper == kStartListener && code == cmd::kReturnSuccess) {
      ServeListener(session, h, number);
      break;
    }
  }
  session.Close(false);
  Print("[%d] closed", number);
}

void CStandinService::Push(const ListenerPush& push) {
  bool waiting = false;
  {
    std::lock_guard<std::mutex> hold(pushLock_);
    pending_.push_back(push);
    waiting = listeners_.empty();
    if (!waiting) SetEvent(listeners_.back()->wake.Get());
  }
  if (waiting) Print("push %s waits for a listener", push.Describe().c_str());
}

bool CStandinService::TakePush(const ListenerSlot& slot, ListenerPush& push) {
  std::lock_guard<std::mutex> hold(pushLock_);
  if (listeners_.empty() || listeners_.back() != &slot || pending_.empty()) return false;
  push = pending_.front();
  pending_.pop_front();
  return true;
}

DWORD WINAPI CStandinService::TimelineThread(void* service) {
  static_cast<CStandinService*>(service)->RunTimeline();
  return 0;
}

void CStandinService::RunTimeline() {
  std::vector<ListenerPush> timeline = scenario_.pushes;
  std::stable_sort(timeline.begin(), timeline.end(),
                   [](const ListenerPush& a, const ListenerPush& b) { return a.atMs < b.atMs; });
  for (const ListenerPush& push : timeline) {
    uint64_t due = timelineStart_ + push.atMs;
    uint64_t now = GetTickCount64();
    if (due > now && Pause(stop_.Get(), static_cast<uint32_t>(due - now))) return;
    Push(push);
  }
}

void CStandinService::ServeListener(CTarvixSession& session, HANDLE pipe, int number) {
  ListenerSlot slot{number, CUniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr))};
  // A push is written within this limit or not at all; the answers are
  // read only as far as they have arrived.
  session.TarvixPipe::SetIoTimeLimit(kPushIoLimitMs);
  {
    std::lock_guard<std::mutex> hold(pushLock_);
    listeners_.push_back(&slot);
    if (!pending_.empty()) SetEvent(slot.wake.Get());
    if (!timeline_ && !scenario_.pushes.empty()) {
      timelineStart_ = GetTickCount64();
      timeline_.Reset(CreateThread(nullptr, 0, TimelineThread, this, 0, nullptr));
    }
  }
  Print("[%d] listener registered", number);

  for (;;) {
    HANDLE waits[2] = {stop_.Get(), slot.wake.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, kListenerPollMs) == WAIT_OBJECT_0) break;
    // Nothing is due from the add-in between pushes: show what comes anyway.
    Answer idle = CollectAnswer(session.ReadStream(), pipe, stop_.Get(), 0, false);
    if (!idle.bytes.empty())
      Print("[%d] unexpected bytes from the add-in: %s", number, Escape(idle.bytes).c_str());
    if (idle.gone) {
      Print("[%d] listener closed by the add-in", number);
      break;
    }
    ListenerPush push;
    bool open = true;
    while (open && TakePush(slot, push)) {
      if (!push.language.empty()) {
        bool written = mapilib::SystemLanguageSettings().WriteLanguage(false, push.language.c_str());
        Print("[%d] language choice %s: %s", number, push.language.c_str(),
              written ? "set" : "not written");
      } else if (push.hangup) {
        session.Close(false);
        Print("[%d] listener closed by the service", number);
        open = false;
      } else {
        open = PushOne(session, pipe, number, push);
      }
    }
    if (!open) break;
  }

  std::lock_guard<std::mutex> hold(pushLock_);
  listeners_.erase(std::find(listeners_.begin(), listeners_.end(), &slot));
  // What this one left goes to the listener before it.
  if (!pending_.empty() && !listeners_.empty()) SetEvent(listeners_.back()->wake.Get());
}

bool CStandinService::PushOne(CTarvixSession& session, HANDLE pipe, int number,
                              const ListenerPush& push) {
  CPushedCommand command(push);
  CMyStream& writer = session.WriteStream();
  if (!command.WriteRequest(writer) || !cmd::WriteTerminator(writer)) {
    Print("[%d] pushed %s -> the connection broke", number, push.Describe().c_str());
    return false;
  }
  bool oneWay = push.OneWay();
  Answer answer = CollectAnswer(session.ReadStream(), pipe, stop_.Get(),
                                oneWay ? kOneWayWaitMs : scenario_.answerWaitMs, !oneWay);
  if (answer.stopped) return false;
  std::string shown;
  if (answer.complete)
    shown = ShowReply(answer.bytes);
  else if (answer.bytes.empty())
    shown = "no answer";
  else
    shown = (oneWay ? "unexpected answer: " : "incomplete answer: ") + Escape(answer.bytes);
  Print("[%d] pushed %s -> %s", number, push.Describe().c_str(), shown.c_str());
  if (answer.gone) {
    Print("[%d] listener closed by the add-in", number);
    return false;
  }
  return true;
}

}  // namespace tarvixstandin
