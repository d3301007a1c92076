#include "comm/tarvixpipe.h"

#include <ws2tcpip.h>

#include <cstring>
#include <initializer_list>

namespace {

bool Valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }

// A write is given to the kernel in pieces of this size, so that the
// exchange clock is asked before each.
constexpr size_t kClockedWritePiece = 256 * 1024;

}  // namespace

namespace tarvixlib {
namespace comm {

void CExchangeClock::Start(uint32_t limitMs) {
  running_ = limitMs != platform::kInfinite;
  timedOut_ = false;
  start_ = platform::TickCountMs();
  limitMs_ = limitMs;
  moved_ = 0;
}

uint32_t CExchangeClock::Allow(uint32_t transferLimitMs) {
  if (!running_) return transferLimitMs;
  uint64_t allowed = limitMs_ + moved_ * 1000 / floorBytesPerSecond_;
  uint64_t spent = platform::TickCountMs() - start_;
  if (spent >= allowed) {
    timedOut_ = true;
    return 0;
  }
  uint64_t left = allowed - spent;
  return left < transferLimitMs ? static_cast<uint32_t>(left) : transferLimitMs;
}

CExchangeStream::CExchangeStream(CExchangeClock& clock)
    : CMyStreamOLWin(platform::InvalidFileHandle(), nullptr, TarvixPipe::kDefaultIoTimeLimit),
      clock_(clock),
      limit_(TarvixPipe::kDefaultIoTimeLimit) {}

void CExchangeStream::SetTransferLimit(uint32_t ms) {
  limit_ = ms;
  SetTimeout(ms);
}

size_t CExchangeStream::Read(void* buffer, size_t length) {
  uint32_t wait = clock_.Allow(limit_);
  if (wait == 0) return 0;
  SetTimeout(wait);
  size_t got = CMyStreamOLWin::Read(buffer, length);
  SetTimeout(limit_);
  clock_.Moved(got);
  if (got == 0 && LastError() == ERROR_TIMEOUT) clock_.NoteTimeout();
  return got;
}

size_t CExchangeStream::Write(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    uint32_t wait = clock_.Allow(limit_);
    if (wait == 0) break;
    size_t piece = length - done < kClockedWritePiece ? length - done : kClockedWritePiece;
    SetTimeout(wait);
    size_t put = CMyStreamOLWin::Write(p + done, piece);
    SetTimeout(limit_);
    clock_.Moved(put);
    done += put;
    if (put < piece) {
      if (LastError() == ERROR_TIMEOUT) clock_.NoteTimeout();
      break;
    }
  }
  return done;
}

}  // namespace comm
}  // namespace tarvixlib

TarvixPipe::TarvixPipe(bool socket)
    : ownEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      socket_(socket),
      readStream_(clock_),
      writeStream_(clock_) {
  readStream_.SetBuffering(tarvixlib::CMyStream::kReadBuffer, kDefaultBufferSize, 0);
  writeStream_.SetBuffering(tarvixlib::CMyStream::kWriteBuffer, 0, kDefaultBufferSize);
}

TarvixPipe::~TarvixPipe() = default;

void TarvixPipe::Attach(tarvixlib::comm::CUniqueConnection handle, HANDLE event,
                        uint32_t timeLimitMs, const std::atomic<bool>* cancelFlag) {
  if (handle) {
    if (IsOpen()) Close();
    handle_ = std::move(handle);
  }
  if (!Valid(event)) {
    ResetEvent(ownEvent_.Get());
    currentEvent_ = ownEvent_.Get();
    cancelFlag = nullptr;
  } else {
    currentEvent_ = event;
  }
  if (timeLimitMs) ioTimeLimit_ = timeLimitMs;
  for (tarvixlib::comm::CExchangeStream* s : {&readStream_, &writeStream_}) {
    s->SetHandle(Handle());
    s->SetCancelEvent(currentEvent_, cancelFlag);
    s->SetTransferLimit(ioTimeLimit_);
    s->DiscardBuffers();
  }
}

tarvixlib::comm::CUniqueConnection TarvixPipe::Detach() {
  currentEvent_ = INVALID_HANDLE_VALUE;
  clock_.Stop();
  for (tarvixlib::comm::CExchangeStream* s : {&readStream_, &writeStream_}) {
    s->SetHandle(tarvixlib::platform::InvalidFileHandle());
    s->SetCancelEvent(nullptr);
    s->DiscardBuffers();
  }
  return std::move(handle_);
}

void TarvixPipe::TakeOver(TarvixPipe& other) {
  if (&other == this) return;
  HANDLE event =
      other.currentEvent_ == other.ownEvent_.Get() ? INVALID_HANDLE_VALUE : other.currentEvent_;
  Attach(other.Detach(), event, 0);
}

void TarvixPipe::Interrupt() {
  if (currentEvent_ == ownEvent_.Get()) SetEvent(ownEvent_.Get());
}

void TarvixPipe::Close() {
  if (Valid(currentEvent_)) {
    // Wake whatever waits on this connection, through the own event so that
    // an event shared with others stays untouched.
    currentEvent_ = ownEvent_.Get();
    readStream_.SetCancelEvent(ownEvent_.Get());
    writeStream_.SetCancelEvent(ownEvent_.Get());
    SetEvent(ownEvent_.Get());
  }
  clock_.Stop();
  if (IsOpen()) {
    for (tarvixlib::comm::CExchangeStream* s : {&readStream_, &writeStream_}) {
      s->SetHandle(tarvixlib::platform::InvalidFileHandle());
      s->DiscardBuffers();
    }
    handle_.Reset();
  }
  currentEvent_ = INVALID_HANDLE_VALUE;
}

bool TarvixPipe::SetBufferSizes(size_t readSize, size_t writeSize) {
  return readStream_.SetBuffering(tarvixlib::CMyStream::kReadBuffer, readSize, 0) &&
         writeStream_.SetBuffering(tarvixlib::CMyStream::kWriteBuffer, 0, writeSize);
}

void TarvixPipe::SetIoTimeLimit(uint32_t ms) {
  ioTimeLimit_ = ms;
  readStream_.SetTransferLimit(ms);
  writeStream_.SetTransferLimit(ms);
}

namespace tarvixlib {
namespace comm {

namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == kOsVersionSize, "the record holds OSVERSIONINFOEXA");

// Windows Sockets for the lifetime of the process, started on first use.
bool StartSockets() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

void BuildOwnIdentityRecord(const ConnectParams& params, IdentityRecord& record) {
  char netbios[16] = {};
  DWORD size = 15;
  if (!GetComputerNameA(netbios, &size)) netbios[0] = '\0';

  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
  }
#pragma GCC diagnostic pop

  char dns[kDnsNameSize] = {};
  size = sizeof dns;
  if (!GetComputerNameExA(ComputerNameDnsFullyQualified, dns, &size)) {
    size = sizeof dns;
    if (!GetComputerNameA(dns, &size)) dns[0] = '\0';
  }

  IdentityFields fields;
  fields.appType = params.appType;
  fields.processId = params.processId;
  fields.flags = params.flags;
  fields.netbiosName = netbios;
  fields.osVersion = reinterpret_cast<const uint8_t*>(&version);
  fields.dnsName = dns;
  BuildIdentityRecord(fields, record);
}

CMyStringA DisplayHostName(const char* host) {
  if (!host) host = "";
  const char* dot = std::strrchr(host, '.');
  if (dot && !(dot[1] >= '0' && dot[1] <= '9')) return CMyStringA(host);
  if (!StartSockets()) return CMyStringA(host);
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, nullptr, &found) != 0 || !found) return CMyStringA(host);
  char name[NI_MAXHOST] = {};
  int r = getnameinfo(found->ai_addr, static_cast<socklen_t>(found->ai_addrlen), name, sizeof name,
                      nullptr, 0, 0);
  freeaddrinfo(found);
  return CMyStringA(r == 0 ? name : host);
}

bool CTarvixConnection::Cancelled() const {
  return Valid(cancelEvent_) && WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0;
}

bool CTarvixConnection::OpenPipe(const char* host, const char* pipeName,
                                 const ConnectParams& params) {
  CMyStringA path = PipePath(host, pipeName);
  const char* shownHost = host && *host ? host : kLocalHost;
  if (IsOpen()) Close();
  socket_ = false;
  hostAnswered_ = 0;
  lastOpenAttempts_ = 0;
  for (uint32_t elapsed = 0; elapsed < connectTimeLimit_ && !Cancelled();) {
    ++lastOpenAttempts_;
    if (WaitNamedPipeA(path.GetString(), kPipeWaitMs)) {
      hostAnswered_ = 1;
      CUniqueConnection pipe = OwnPipe(CreateFileA(
          path.GetString(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
      if (pipe) {
        CMyStringA shown = DisplayHostName(shownHost);
        SetNameOverride(shown.GetString());
        SetPeerDisplayName(shown.GetString());
        Attach(std::move(pipe), cancelEvent_, connectTimeLimit_);
        if (ClientHandshake(params) == HandshakeResult::kOk) return true;
        Close();
      }
    } else {
      DWORD error = GetLastError();
      hostAnswered_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_LOGON_FAILURE;
      if (error == ERROR_BAD_NETPATH) break;
    }
    elapsed += kPipeWaitMs;
    if (elapsed >= kPipeAttemptBudgetMs) break;
  }
  Close();
  return false;
}

bool CTarvixConnection::OpenSocket(const char* host, uint16_t port, const ConnectParams& params) {
  if (!StartSockets() || !host) return false;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  hostent* entry = gethostbyname(host);
#pragma GCC diagnostic pop
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
    return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  std::memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);

  if (IsOpen()) Close();
  socket_ = true;
  hostAnswered_ = 0;
  for (uint32_t elapsed = 0; elapsed < connectTimeLimit_;) {
    if (Valid(cancelEvent_) && WaitForSingleObject(cancelEvent_, 1000) == WAIT_OBJECT_0) break;
    CUniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return false;
    if (connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      char name[NI_MAXHOST] = {};
      if (getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof address, name, sizeof name,
                      nullptr, 0, 0) == 0) {
        SetNameOverride(name);
        SetPeerDisplayName(name);
      }
      connectTimeLimit_ = 300000;
      Attach(OwnSocket(reinterpret_cast<platform::FileHandle>(s.Release())), cancelEvent_,
             connectTimeLimit_);
      if (ClientHandshake(params) == HandshakeResult::kOk) return true;
      break;
    }
    hostAnswered_ = WSAGetLastError() == WSAETIMEDOUT;
    s.Reset();
    elapsed += 1000;
    if (elapsed > 4999) break;
  }
  Close();
  return false;
}

HandshakeResult CTarvixConnection::ClientHandshake(const ConnectParams& params) {
  IdentityRecord own;
  BuildOwnIdentityRecord(params, own);
  BeginExchange();
  HandshakeResult result = RunClientHandshake(ReadStream(), WriteStream(), own, *this);
  EndExchange();
  return result;
}

ServerHandshakeResult CTarvixConnection::ServerHandshake(uint32_t ownAppType) {
  ConnectParams params;
  params.appType = ownAppType;
  params.processId = GetCurrentProcessId();
  IdentityRecord own;
  BuildOwnIdentityRecord(params, own);
  BeginExchange();
  ServerHandshakeResult result = RunServerHandshake(ReadStream(), WriteStream(), own, *this);
  EndExchange();
  return result;
}

}  // namespace comm
}  // namespace tarvixlib
