#include "addin/module.h"

#include "addin/connect.h"

namespace mapilib {

namespace {
const tarvixlib::ComClassEntry kClasses[] = {{&CLSID_Connect, CConnect::Create}};
}  // namespace

CnorvellaModule::CnorvellaModule() : CComServerModule(kClasses, 1) {}

CnorvellaModule& NorvellaModule() {
  // Destroyed when the library is unloaded, releasing the cached factory.
  static CnorvellaModule module;
  return module;
}

}  // namespace mapilib
