// The handle of one connection to the service, from its opening to its one
// close: a named pipe or a TCP socket, carried everywhere as the platform's
// file handle value (a HANDLE on Windows; a socket is converted to one).
//
//   CUniqueConnection  owns it: the connection while it is open, the store
//                      of kept connections while no command uses it, the
//                      sending session while a command does. Moving it is
//                      the only way to hand it on, so nothing can close it
//                      twice.
//
// Closing goes through one replaceable function, the closer, so that tests
// can count closes (or keep made-up handle values from reaching the system).
#pragma once

#include "foundation/owner.h"
#include "foundation/platform.h"

namespace tarvixlib {
namespace comm {

struct ConnectionHandle {
  platform::FileHandle value = platform::InvalidFileHandle();
  bool socket = false;  // closed as a socket, not as a file handle
};

using ConnectionCloser = void (*)(const ConnectionHandle& handle);
// The system's close (closesocket or CloseHandle; the last error is kept).
void SystemCloseConnection(const ConnectionHandle& handle);
// Replaces the closer (null: the system's) and returns the previous one.
ConnectionCloser SetConnectionCloser(ConnectionCloser closer);

struct ConnectionHandleTraits {
  using Type = ConnectionHandle;
  static Type Invalid() noexcept { return ConnectionHandle(); }
  static bool IsValid(const Type& h) noexcept { return platform::IsValidFile(h.value); }
  static void Close(const Type& h) noexcept;
};
using CUniqueConnection = CUniqueOwner<ConnectionHandleTraits>;

// An owner of a pipe handle or a socket made by the caller.
inline CUniqueConnection OwnPipe(platform::FileHandle pipe) {
  return CUniqueConnection(ConnectionHandle{pipe, false});
}
inline CUniqueConnection OwnSocket(platform::FileHandle socket) {
  return CUniqueConnection(ConnectionHandle{socket, true});
}

}  // namespace comm
}  // namespace tarvixlib
