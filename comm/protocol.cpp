#include "comm/protocol.h"

namespace tarvixlib {
namespace comm {

CMyStringA PipePath(const char* host, const char* pipeName) {
  CMyStringA path;
  path.Format("\\\\%s\\pipe\\%s", host && *host ? host : kLocalHost,
              pipeName && *pipeName ? pipeName : kServicePipeName);
  return path;
}

}  // namespace comm
}  // namespace tarvixlib
