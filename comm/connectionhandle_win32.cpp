#include <winsock2.h>
#include <windows.h>

#include "comm/connectionhandle.h"
#include "foundation/winhandles.h"

namespace tarvixlib {
namespace comm {

void SystemCloseConnection(const ConnectionHandle& handle) {
  if (handle.socket)
    SocketTraits::Close(reinterpret_cast<SOCKET>(handle.value));
  else
    Win32HandleTraits::Close(handle.value);
}

}  // namespace comm
}  // namespace tarvixlib
