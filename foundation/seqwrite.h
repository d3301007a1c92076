// Sequential writers: the sink the printf engine writes its output to.
#pragma once

#include <cstddef>

namespace tarvixlib {

// An abstract sequential writer. Write returns how many bytes it took; fewer
// than offered means the sink refuses more.
class CSeqWrite {
public:
  virtual ~CSeqWrite() = default;
  virtual size_t Write(const void* data, size_t length) = 0;
};

}  // namespace tarvixlib
