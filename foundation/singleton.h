// One process-wide instance of T, created on first use and kept until the
// process ends. The creation is guarded by the language (a function-local
// static is initialised once, also when threads race for it); the object is
// never destroyed, so code running during static destruction (a log written
// from another object's destructor) still finds it alive.
#pragma once

namespace tarvixlib {

template <typename T>
class CSingleton {
public:
  static T& Instance() {
    static T* const instance = new T();
    return *instance;
  }
};

}  // namespace tarvixlib
