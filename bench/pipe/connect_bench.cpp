// OnConnection benchmark (run under wine): the add-in library loaded by
// path, its object connected to the stand-in Outlook and disconnected
// again, against the creation of an add-in object through the library's
// class factory in the same run. Outlook disables add-ins that slow its
// start-up; the goal is OnConnection under 5 ms.
//
// Usage: connect_bench NORVELLA_DLL [rounds]   (default 200)
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "addin/norvella.h"
#include "foundation/comptr.h"
#include "foundation/winhandles.h"
#include "outlookmodel.h"

namespace {

using tarvixlib::CComPtr;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: connect_bench NORVELLA_DLL [rounds]\n");
    return 2;
  }
  int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int result = 0;
  {
    tarvixlib::CUniqueModule library(LoadLibraryA(argv[1]));
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        tarvixlib::ModuleTraits::Proc<GetClassObjectFn>(library.Get(), "DllGetClassObject");
    CComPtr<IClassFactory> factory;
    if (!getClassObject ||
        FAILED(getClassObject(CLSID_Connect, IID_IClassFactory, factory.OutVoid()))) {
      std::fprintf(stderr, "cannot load %s\n", argv[1]);
      return 1;
    }
    tarvixstandin::outlook::COutlookModel outlook;
    outlook.ShowExplorer();
    std::vector<double> create, connect;
    for (int i = 0; i < rounds; ++i) {
      double t0 = Now();
      CComPtr<_IDTExtensibility2> addin;
      factory->CreateInstance(nullptr, IID__IDTExtensibility2, addin.OutVoid());
      double t1 = Now();
      HRESULT hr = addin->OnConnection(outlook.Application(), ext_cm_Startup, nullptr, nullptr);
      double t2 = Now();
      addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
      if (FAILED(hr) || outlook.ApplicationObject().SinkCount() != 0) result = 1;
      create.push_back((t1 - t0) * 1e6);
      connect.push_back((t2 - t1) * 1e6);
    }
    double c = Median(create), o = Median(connect);
    std::printf("add-in object creation  median %9.1f us\n", c);
    std::printf("OnConnection            median %9.1f us   %.1fx the creation (goal: under 5 ms)\n",
                o, o / c);
    std::printf("OnConnection (first)           %9.1f us\n", connect.front());
  }
  CoUninitialize();
  return result;
}
