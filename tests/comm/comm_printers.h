// How test failures show the comm result families: the name and the number
// instead of the bytes of an enum.
#pragma once

#include <ostream>

#include "comm/connections.h"
#include "comm/handshake.h"

namespace tarvixlib {
namespace comm {

inline void PrintTo(HandshakeResult r, std::ostream* os) {
  *os << "HandshakeResult(" << StepCode(r) << ")";
}
inline void PrintTo(ServerHandshakeResult r, std::ostream* os) {
  *os << "ServerHandshakeResult(" << StepCode(r) << ")";
}

}  // namespace comm

namespace commands {
namespace comm {
namespace host {

inline void PrintTo(SendResult r, std::ostream* os) {
  *os << SendResultName(r) << " (" << static_cast<int>(r) << ")";
}

}  // namespace host
}  // namespace comm
}  // namespace commands
}  // namespace tarvixlib
