// The COM pointer and the COM object base: references are counted exactly,
// QueryInterface follows the interface list, a miss nulls the result.
#include <gtest/gtest.h>

#include <ocidl.h>

#include "foundation/comobject.h"
#include "foundation/comptr.h"
#include "foundation/winhandles.h"

namespace tarvixlib {
namespace {

class CTwoFaces final : public CComObject<IConnectionPoint, IConnectionPointContainer> {
public:
  explicit CTwoFaces(bool* destroyed) : destroyed_(destroyed) {}
  ~CTwoFaces() override { *destroyed_ = true; }
  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) noexcept override {
    *c = this;
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown*, DWORD*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) noexcept override { return E_NOTIMPL; }
  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) noexcept override { return E_NOTIMPL; }

protected:
  // Answers IPersist through the hook, to show it is asked after the list.
  void* QueryOther(REFIID iid) noexcept override {
    return IsEqualIID(iid, IID_IPersist) ? static_cast<IConnectionPoint*>(this) : nullptr;
  }

private:
  bool* destroyed_;
};

TEST(ComObjectTest, QueryInterfaceFollowsTheList) {
  bool destroyed = false;
  long before = LiveComObjects().load();
  {
    CComPtr<CTwoFaces> object = CComObjectMake<CTwoFaces>(&destroyed);
    EXPECT_EQ(LiveComObjects().load(), before + 1);
    EXPECT_EQ(object->RefCount(), 1);

    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(object.As(container), S_OK);
    EXPECT_EQ(object->RefCount(), 2);
    CComPtr<IUnknown> unknown1, unknown2;
    ASSERT_EQ(container.As(unknown1), S_OK);
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(object.As(point), S_OK);
    ASSERT_EQ(point.As(unknown2), S_OK);
    EXPECT_EQ(unknown1.Get(), unknown2.Get()) << "one identity whichever face is asked";

    CComPtr<IPersist> other;
    EXPECT_EQ(object.As(other), S_OK) << "QueryOther is asked after the list";

    void* miss = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IDispatch, &miss), E_NOINTERFACE);
    EXPECT_EQ(miss, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(object->RefCount(), 6);
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(LiveComObjects().load(), before);
}

TEST(ComPtrTest, CopyMoveAttachDetachCountExactly) {
  bool destroyed = false;
  CComPtr<CTwoFaces> a = CComObjectMake<CTwoFaces>(&destroyed);
  CTwoFaces* raw = a.Get();
  {
    CComPtr<CTwoFaces> copy = a;
    EXPECT_EQ(raw->RefCount(), 2);
    CComPtr<CTwoFaces> moved = std::move(copy);
    EXPECT_FALSE(copy);
    EXPECT_EQ(raw->RefCount(), 2);
    moved = moved;  // self-assignment keeps the reference
    EXPECT_EQ(raw->RefCount(), 2);
  }
  EXPECT_EQ(raw->RefCount(), 1);
  CTwoFaces* detached = a.Detach();
  EXPECT_FALSE(a);
  EXPECT_FALSE(destroyed);
  CComPtr<CTwoFaces> adopted = CComPtr<CTwoFaces>::Attach(detached);
  EXPECT_EQ(raw->RefCount(), 1);
  adopted.Reset();
  EXPECT_TRUE(destroyed);
}

TEST(WinOwnerTest, ClosingKeepsTheLastError) {
  CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  HANDLE raw = event.Get();
  SetLastError(ERROR_FILE_NOT_FOUND);
  event.Reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags)) << "the handle was closed";
  CUniqueHandle invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(invalid) << "INVALID_HANDLE_VALUE is empty";
}

TEST(WinOwnerTest, RegistryKeyAndBstrOwners) {
  CUniqueRegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.Out()), ERROR_SUCCESS);
  EXPECT_TRUE(key);
  CUniqueBstr text(SysAllocString(L"norvella"));
  ASSERT_TRUE(text);
  EXPECT_EQ(SysStringLen(text.Get()), 8u);
  CUniqueModule module(LoadLibraryW(L"kernel32.dll"));
  ASSERT_TRUE(module);
  EXPECT_NE((ModuleTraits::Proc<FARPROC>(module.Get(), "GetTickCount")), nullptr);
}

}  // namespace
}  // namespace tarvixlib
