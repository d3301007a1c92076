// The add-in library's module object: its instance handle, the LockServer
// count and the class table with its one class, CConnect.
#pragma once

#include "foundation/comserver.h"

namespace mapilib {

class CnorvellaModule final : public tarvixlib::CComServerModule {
public:
  CnorvellaModule();
};

// The one module object of the library.
CnorvellaModule& NorvellaModule();

}  // namespace mapilib
