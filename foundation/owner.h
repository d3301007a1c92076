// One owner type for every kind of handle: CUniqueOwner<Traits> holds one
// value and closes it once, through the traits' Close, when it is reset or
// goes out of scope. Each handle kind is a one-line alias (see
// foundation/winhandles.h for the Windows kinds).
//
// Traits supply:
//   using Type = ...;                       the handle type
//   static Type Invalid() noexcept;         the empty value
//   static bool IsValid(Type) noexcept;     whether a value needs closing
//   static void Close(Type) noexcept;       closes a valid value
//
// Owners move but never copy. Release() hands the value out without closing
// it and must not be ignored: whoever takes it now owns it.
//
//   CUniqueFile file(platform::OpenFileAt(path, mode));
//   if (!file) return false;
//   platform::ReadFileBytes(file.Get(), ...);      // closed at scope end
#pragma once

#include <utility>

#include "foundation/platform.h"

namespace tarvixlib {

template <typename Traits>
class CUniqueOwner {
public:
  using Type = typename Traits::Type;

  CUniqueOwner() noexcept : value_(Traits::Invalid()) {}
  explicit CUniqueOwner(Type value) noexcept : value_(value) {}
  CUniqueOwner(const CUniqueOwner&) = delete;
  CUniqueOwner& operator=(const CUniqueOwner&) = delete;
  CUniqueOwner(CUniqueOwner&& other) noexcept : value_(other.Release()) {}
  CUniqueOwner& operator=(CUniqueOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CUniqueOwner() { Reset(); }

  Type Get() const noexcept { return value_; }
  bool IsValid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Closes what it holds (when valid) and takes value.
  void Reset(Type value = Traits::Invalid()) noexcept {
    Type old = value_;
    value_ = value;
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // Hands the value out; the owner is empty afterwards.
  [[nodiscard]] Type Release() noexcept {
    Type value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  // Closes what it holds and hands out the slot for an API that writes a
  // new value into it.
  Type* Out() noexcept {
    Reset();
    return &value_;
  }

private:
  Type value_;
};

// Waitable objects of the platform seam (events, thread handles).
struct OsHandleTraits {
  using Type = platform::OsHandle;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static void Close(Type h) noexcept { platform::CloseOsHandle(h); }
};
using CUniqueOsHandle = CUniqueOwner<OsHandleTraits>;

// Open files of the platform seam.
struct FileHandleTraits {
  using Type = platform::FileHandle;
  static Type Invalid() noexcept { return platform::InvalidFileHandle(); }
  static bool IsValid(Type h) noexcept { return platform::IsValidFile(h); }
  static void Close(Type h) noexcept { platform::CloseFile(h); }
};
using CUniqueFile = CUniqueOwner<FileHandleTraits>;

}  // namespace tarvixlib
