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

// Handles that are pointers, empty when null, each closed by its API.
template <typename T, auto CloseFn>
struct PointerHandleTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept {
    CloseKeepingLastError([h] { CloseFn(h); });
  }
};

// Opened or created registry keys (never the predefined roots).
using CUniqueRegKey = CUniqueOwner<PointerHandleTraits<HKEY, RegCloseKey>>;

// Libraries loaded with LoadLibrary.
struct ModuleTraits : PointerHandleTraits<HMODULE, FreeLibrary> {
  template <typename Fn>
  static Fn Proc(Type m, const char* name) noexcept {
    return m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
  }
};
using CUniqueModule = CUniqueOwner<ModuleTraits>;

// Strings allocated with SysAllocString.
using CUniqueBstr = CUniqueOwner<PointerHandleTraits<BSTR, SysFreeString>>;

// Windows this thread created (DestroyWindow works only on their thread).
using CUniqueWindow = CUniqueOwner<PointerHandleTraits<HWND, DestroyWindow>>;

// Open files (CreateFile); the same kernel handle kind as CUniqueHandle.
using CUniqueFileHandle = CUniqueHandle;

}  // namespace tarvixlib
