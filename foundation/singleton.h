// One process-wide instance of T, created on first use (the language makes
// that creation thread-safe) and destroyed when the process ends.
#pragma once

namespace tarvixlib {

template <typename T>
class CSingleton {
public:
  static T& Instance() {
    static T instance;
    return instance;
  }
};

}  // namespace tarvixlib
