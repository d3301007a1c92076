// Outside Windows a pipe and a socket are both descriptors.
#include "comm/connectionhandle.h"

namespace tarvixlib {
namespace comm {

void SystemCloseConnection(const ConnectionHandle& handle) { platform::CloseFile(handle.value); }

}  // namespace comm
}  // namespace tarvixlib
