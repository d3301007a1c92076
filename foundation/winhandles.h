// The Windows handle kinds as owners (see foundation/owner.h): each closes
// its value with the matching API and keeps the thread's last error, so an
// owner going out of scope on a failure path does not hide why it failed.
//
//   CUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
//   CUniqueRegKey key;
//   RegOpenKeyExW(root, path, 0, KEY_READ, key.Out());
//
// Windows only: the platform-neutral core uses CUniqueOsHandle and
// CUniqueFile of foundation/owner.h instead.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include "foundation/owner.h"

namespace tarvixlib {

// Runs a close call without changing GetLastError.
template <typename Fn>
inline void CloseKeepingLastError(Fn close) noexcept {
  DWORD error = GetLastError();
  close();
  SetLastError(error);
}

// HANDLEs that an API of their own closes (CloseHandle, FindClose,
// IcmpCloseHandle, ...). Both null and INVALID_HANDLE_VALUE count as empty
// (APIs return one or the other).
template <BOOL(WINAPI* CloseFn)(HANDLE)>
struct ApiHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept {
    CloseKeepingLastError([h] { CloseFn(h); });
  }
};

// Kernel objects: events, threads, processes, pipes, files.
using Win32HandleTraits = ApiHandleTraits<CloseHandle>;
using CUniqueHandle = CUniqueOwner<Win32HandleTraits>;

struct SocketTraits {
  using Type = SOCKET;
  static Type Invalid() noexcept { return INVALID_SOCKET; }
  static bool IsValid(Type s) noexcept { return s != INVALID_SOCKET; }
  static void Close(Type s) noexcept {
    DWORD error = GetLastError();
    int wsaError = WSAGetLastError();
    closesocket(s);
    WSASetLastError(wsaError);
    SetLastError(error);
  }
};
using CUniqueSocket = CUniqueOwner<SocketTraits>;

// Opened or created registry keys (never the predefined roots).
struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type k) noexcept { return k != nullptr; }
  static void Close(Type k) noexcept {
    CloseKeepingLastError([k] { RegCloseKey(k); });
  }
};
using CUniqueRegKey = CUniqueOwner<RegKeyTraits>;

// Libraries loaded with LoadLibrary.
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type m) noexcept { return m != nullptr; }
  static void Close(Type m) noexcept {
    CloseKeepingLastError([m] { FreeLibrary(m); });
  }
  template <typename Fn>
  static Fn Proc(Type m, const char* name) noexcept {
    return m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
  }
};
using CUniqueModule = CUniqueOwner<ModuleTraits>;

// Strings allocated with SysAllocString.
struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type b) noexcept { return b != nullptr; }
  static void Close(Type b) noexcept {
    CloseKeepingLastError([b] { SysFreeString(b); });
  }
};
using CUniqueBstr = CUniqueOwner<BstrTraits>;

// Open files (CreateFile); the same kernel handle kind as CUniqueHandle.
using CUniqueFileHandle = CUniqueHandle;

}  // namespace tarvixlib
