// norvella_x64.dll as a client sees it, loaded by path: the four exports by
// their plain names, the cached class factory, aggregation, LockServer and
// DllCanUnloadNow, the embedded type library and the version resource.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>

#include "addin/norvella.h"
#include "foundation/comobject.h"
#include "foundation/comptr.h"
#include "foundation/winhandles.h"

namespace mapilib {
namespace {

using tarvixlib::CComObject;
using tarvixlib::CComObjectMake;
using tarvixlib::CComPtr;
using tarvixlib::CUniqueModule;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgsFn = HRESULT(STDAPICALLTYPE*)();

// An application object: only its reference count matters here.
class CFakeApplication final : public CComObject<IDispatch> {
public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) noexcept override {
    return E_NOTIMPL;
  }
};

// An outer object that aggregates the add-in: it answers IUnknown and
// IPersist itself and hands every other interface to the inner unknown.
class COuter final : public CComObject<IPersist> {
public:
  CComPtr<IUnknown> inner;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist))
      return CComObject::QueryInterface(iid, result);
    if (!result) return E_POINTER;
    *result = nullptr;
    return inner ? inner->QueryInterface(iid, result) : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
};

class AddinServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    library_ = CUniqueModule(LoadLibraryW(NORVELLA_DLL_PATH));
    ASSERT_TRUE(library_) << "LoadLibrary error " << GetLastError();
    getClassObject_ = Proc<GetClassObjectFn>("DllGetClassObject");
    canUnloadNow_ = Proc<NoArgsFn>("DllCanUnloadNow");
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
    ASSERT_EQ(getClassObject_(CLSID_Connect, IID_IClassFactory, factory_.OutVoid()), S_OK);
  }
  void TearDown() override {
    factory_.Reset();
    EXPECT_EQ(canUnloadNow_(), S_OK) << "a test left an object of the library alive";
  }
  template <typename Fn>
  Fn Proc(const char* name) {
    return tarvixlib::ModuleTraits::Proc<Fn>(library_.Get(), name);
  }

  CUniqueModule library_;
  GetClassObjectFn getClassObject_ = nullptr;
  NoArgsFn canUnloadNow_ = nullptr;
  CComPtr<IClassFactory> factory_;
};

TEST_F(AddinServerTest, ExportsTheFourEntryPointsUndecorated) {
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer",
                           "DllUnregisterServer"}) {
    EXPECT_NE(GetProcAddress(library_.Get(), name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(library_.Get(), "DllGetClassObject@12"), nullptr);
}

TEST_F(AddinServerTest, ClassObjectOnlyForConnectAndCached) {
  CComPtr<IUnknown> other;
  EXPECT_EQ(getClassObject_(IID_IConnect, IID_IClassFactory, other.OutVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(other);
  CComPtr<IClassFactory> again;
  ASSERT_EQ(getClassObject_(CLSID_Connect, IID_IClassFactory, again.OutVoid()), S_OK);
  EXPECT_EQ(again.Get(), factory_.Get()) << "the class object is made once and kept";
  CComPtr<IUnknown> unknown;
  EXPECT_EQ(getClassObject_(CLSID_Connect, IID_IUnknown, unknown.OutVoid()), S_OK);
  EXPECT_EQ(getClassObject_(CLSID_Connect, IID_IDispatch, other.OutVoid()), E_NOINTERFACE);
  EXPECT_EQ(getClassObject_(CLSID_Connect, IID_IClassFactory, nullptr), E_POINTER);
}

// Each interface the add-in object answers, asked for at creation; all
// faces share one identity.
TEST_F(AddinServerTest, CreatesTheAddinForEachInterface) {
  const IID* iids[] = {&IID_IUnknown, &IID_IDispatch, &IID_IConnect, &IID__IDTExtensibility2};
  for (const IID* iid : iids) {
    CComPtr<IUnknown> object;
    ASSERT_EQ(factory_->CreateInstance(nullptr, *iid, object.OutVoid()), S_OK);
    ASSERT_TRUE(object);
    CComPtr<IUnknown> identity1, identity2;
    CComPtr<_IDTExtensibility2> extensibility;
    ASSERT_EQ(object.As(extensibility), S_OK);
    ASSERT_EQ(object.As(identity1), S_OK);
    ASSERT_EQ(extensibility.As(identity2), S_OK);
    EXPECT_EQ(identity1.Get(), identity2.Get());
  }
  CComPtr<IUnknown> none;
  EXPECT_EQ(factory_->CreateInstance(nullptr, IID_IPersist, none.OutVoid()), E_NOINTERFACE);
  EXPECT_FALSE(none);
}

TEST_F(AddinServerTest, AggregationHandsOutTheInnerUnknownOnly) {
  CComPtr<COuter> outer = CComObjectMake<COuter>();
  IUnknown* outerUnknown = static_cast<IPersist*>(outer.Get());

  CComPtr<IUnknown> refused;
  EXPECT_EQ(factory_->CreateInstance(outerUnknown, IID__IDTExtensibility2, refused.OutVoid()),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory_->CreateInstance(outerUnknown, IID_IDispatch, refused.OutVoid()),
            CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(refused);

  ASSERT_EQ(factory_->CreateInstance(outerUnknown, IID_IUnknown, outer->inner.OutVoid()), S_OK);
  EXPECT_EQ(outer->RefCount(), 1) << "the inner object must not hold its outer";

  // The outer reaches the add-in's interfaces through the inner unknown ...
  CComPtr<_IDTExtensibility2> extensibility;
  ASSERT_EQ(outer.As(extensibility), S_OK);
  EXPECT_EQ(outer->RefCount(), 2) << "AddRef on an inner interface counts on the outer";
  // ... and those interfaces delegate back: identity and IPersist are the outer's.
  CComPtr<IUnknown> identity;
  ASSERT_EQ(extensibility.As(identity), S_OK);
  EXPECT_EQ(identity.Get(), outerUnknown);
  CComPtr<IPersist> persist;
  EXPECT_EQ(extensibility.As(persist), S_OK) << "an interface only the outer has";
  CComPtr<IConnect> connect;
  EXPECT_EQ(extensibility.As(connect), S_OK);
  EXPECT_EQ(extensibility->OnStartupComplete(nullptr), E_NOTIMPL) << "never connected: inactive";

  // The inner unknown is not the outer's.
  CComPtr<IUnknown> innerIdentity;
  ASSERT_EQ(outer->inner->QueryInterface(IID_IUnknown, innerIdentity.OutVoid()), S_OK);
  EXPECT_EQ(innerIdentity.Get(), outer->inner.Get());
  EXPECT_NE(innerIdentity.Get(), outerUnknown);

  identity.Reset();
  persist.Reset();
  connect.Reset();
  extensibility.Reset();
  innerIdentity.Reset();
  EXPECT_EQ(outer->RefCount(), 1);
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "the aggregated add-in lives inside the outer";
  outer.Reset();  // releases the inner unknown, which ends the add-in
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(AddinServerTest, CanUnloadOnlyWithoutObjectsAndLocks) {
  EXPECT_EQ(canUnloadNow_(), S_OK) << "a held class factory alone does not keep the library";
  ASSERT_EQ(factory_->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  ASSERT_EQ(factory_->LockServer(TRUE), S_OK);
  ASSERT_EQ(factory_->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "locks are counted";
  ASSERT_EQ(factory_->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_OK);

  CComPtr<_IDTExtensibility2> addin;
  ASSERT_EQ(factory_->CreateInstance(nullptr, IID__IDTExtensibility2, addin.OutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE) << "Outlook holds the add-in object";
  addin.Reset();
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

// An application that is not Outlook leaves the add-in inactive: it keeps
// nothing of it, and only OnStartupComplete says so.
TEST_F(AddinServerTest, ExtensibilityCallsOfAnInactiveAddinKeepNothing) {
  CComPtr<_IDTExtensibility2> addin;
  ASSERT_EQ(factory_->CreateInstance(nullptr, IID__IDTExtensibility2, addin.OutVoid()), S_OK);
  CComPtr<CFakeApplication> application = CComObjectMake<CFakeApplication>();
  SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  ASSERT_NE(custom, nullptr);
  EXPECT_EQ(addin->OnConnection(application.Get(), ext_cm_Startup, nullptr, &custom), S_OK);
  EXPECT_EQ(application->RefCount(), 1) << "an inactive add-in keeps no application";
  EXPECT_EQ(addin->OnStartupComplete(&custom), E_NOTIMPL);
  EXPECT_EQ(addin->OnAddInsUpdate(&custom), S_OK);
  EXPECT_EQ(addin->OnBeginShutdown(&custom), S_OK);
  EXPECT_EQ(addin->OnDisconnection(ext_dm_HostShutdown, &custom), S_OK);
  SafeArrayDestroy(custom);
  addin.Reset();
  EXPECT_EQ(application->RefCount(), 1);
}

// IDispatch answers from the type library inside the DLL.
TEST_F(AddinServerTest, DispatchAnswersFromTheEmbeddedTypeLibrary) {
  CComPtr<IDispatch> dispatch;
  ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IDispatch, dispatch.OutVoid()), S_OK);
  UINT count = 0;
  ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  CComPtr<ITypeInfo> info;
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.Out()), DISP_E_BADINDEX);
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.Out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualIID(attr->guid, IID_IConnect));
  info->ReleaseTypeAttr(attr);

  // IConnect has no members of its own; IDispatch's are not dispatched.
  wchar_t name[] = L"OnConnection";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(dispatch->Invoke(1, IID_IConnect, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(AddinTypeLibraryTest, LoadsFromTheLibraryPath) {
  CComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLibEx(NORVELLA_DLL_PATH, REGKIND_NONE, library.Out()), S_OK);
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&libAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(libAttr->guid, LIBID_norvellaLib));
  EXPECT_EQ(libAttr->wMajorVerNum, 1);
  EXPECT_EQ(libAttr->wMinorVerNum, 0);
  library->ReleaseTLibAttr(libAttr);
  tarvixlib::CUniqueBstr name;
  ASSERT_EQ(library->GetDocumentation(-1, name.Out(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name.Get(), L"norvellaLib");
  EXPECT_EQ(library->GetTypeInfoCount(), 2u) << "IConnect and Connect, nothing else";

  CComPtr<ITypeInfo> connect;
  ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IConnect, connect.Out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(connect->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_EQ(attr->cFuncs, 7) << "IUnknown and IDispatch only";
  connect->ReleaseTypeAttr(attr);

  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Connect, coclass.Out()), S_OK);
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->cImplTypes, 1);
  coclass->ReleaseTypeAttr(attr);
  tarvixlib::CUniqueBstr coclassName;
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, coclassName.Out(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_STREQ(coclassName.Get(), L"Connect");
  HREFTYPE implemented = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &implemented), S_OK);
  CComPtr<ITypeInfo> implementedInfo;
  ASSERT_EQ(coclass->GetRefTypeInfo(implemented, implementedInfo.Out()), S_OK);
  ASSERT_EQ(implementedInfo->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualIID(attr->guid, IID_IConnect));
  implementedInfo->ReleaseTypeAttr(attr);
}

TEST(AddinVersionTest, VersionResourceNamesTheLibrary) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(NORVELLA_DLL_PATH, &ignored);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(NORVELLA_DLL_PATH, 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  wchar_t* text = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\OriginalFilename",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, L"norvella_x64.dll");
}

}  // namespace
}  // namespace mapilib
