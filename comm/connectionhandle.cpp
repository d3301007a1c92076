#include "comm/connectionhandle.h"

#include <atomic>

namespace tarvixlib {
namespace comm {

namespace {
std::atomic<ConnectionCloser> g_closer{nullptr};
}

ConnectionCloser SetConnectionCloser(ConnectionCloser closer) { return g_closer.exchange(closer); }

void ConnectionHandleTraits::Close(const Type& h) noexcept {
  ConnectionCloser closer = g_closer.load();
  (closer ? closer : SystemCloseConnection)(h);
}

}  // namespace comm
}  // namespace tarvixlib
