// The library string: one owned, zero-terminated array per string, narrow
// (ANSI code page) or wide (UTF-16).
//
// Storage rules:
//  - An empty string points at one shared static empty text; it is never
//    freed and never written, so empty strings cost no allocation.
//  - A non-empty string owns its array. Assign and Append size it to
//    (length | 15) + 1 characters, so small appends seldom reallocate;
//    Format sizes it exactly to the result.
//  - Copies are deep; there is no sharing or reference counting.
//  - Allocation failure is not thrown: Assign then leaves the empty string,
//    Append and Format leave the old contents untouched.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "foundation/platform.h"

namespace tarvixlib {

// Length, copy, search and compare helpers for one character width.
// A null text reads as the empty text everywhere.
template <typename T>
struct CMyStrHelper {
  static const T* Empty() { return kEmpty; }
  static size_t Length(const T* text) {
    if (!text) return 0;
    const T* p = text;
    while (*p) ++p;
    return static_cast<size_t>(p - text);
  }
  static void Copy(T* dst, const T* src, size_t count) {
    if (count) std::memcpy(dst, src, count * sizeof(T));
  }
  static void Move(T* dst, const T* src, size_t count) {
    if (count) std::memmove(dst, src, count * sizeof(T));
  }
  // True when c occurs in the zero-terminated set (the terminator itself is
  // never part of a set).
  static bool Contains(const T* set, T c) {
    if (!set) return false;
    for (; *set; ++set)
      if (*set == c) return true;
    return false;
  }
  // strcmp-like ordering by unsigned code unit.
  static int Compare(const T* a, const T* b) {
    if (!a) a = kEmpty;
    if (!b) b = kEmpty;
    using U = std::make_unsigned_t<T>;
    for (;; ++a, ++b) {
      U ca = static_cast<U>(*a), cb = static_cast<U>(*b);
      if (ca != cb) return ca < cb ? -1 : 1;
      if (!ca) return 0;
    }
  }

private:
  static inline const T kEmpty[1] = {T(0)};
};

template <typename T, typename H = CMyStrHelper<T>>
class CMyStringT;

// Formats into a malloc'ed heap array at character position `position`
// (the characters before it are kept): the array is replaced by one of
// exactly position + length + 1 characters. On success returns the
// formatted length and `heap` points at the new array (the old one is freed
// only after formatting, so arguments may point into it); when allocation
// fails it returns -1 and `heap` is unchanged. `heap` may be null when
// position is 0.
// Implemented by the printf engine (myprintf.cpp).
int FormatToHeapV(char*& heap, size_t position, const char* format, va_list args);
int FormatToHeapV(WChar*& heap, size_t position, const WChar* format, va_list args);

// Text conversions used by the width-specific assignments (textconv.cpp).
int AnsiToWide(WChar* buffer, const char* text, int bufferChars);
int WideToAnsi(char* buffer, const WChar* text, int bufferBytes);
size_t Utf8Length(const WChar* text);
size_t Utf8Encode(char* buffer, const WChar* text);

template <typename T, typename H>
class CMyStringT {
public:
  CMyStringT() = default;
  CMyStringT(const T* text) { Assign(text); }
  CMyStringT(const CMyStringT& other) { Assign(other.m_text); }
  CMyStringT(CMyStringT&& other) noexcept : m_text(other.m_text), m_capacity(other.m_capacity) {
    other.m_text = EmptyText();
    other.m_capacity = 0;
  }
  CMyStringT& operator=(const CMyStringT& other) {
    if (this != &other) Assign(other.m_text);
    return *this;
  }
  CMyStringT& operator=(CMyStringT&& other) noexcept {
    if (this != &other) {
      Release();
      m_text = other.m_text;
      m_capacity = other.m_capacity;
      other.m_text = EmptyText();
      other.m_capacity = 0;
    }
    return *this;
  }
  CMyStringT& operator=(const T* text) {
    Assign(text);
    return *this;
  }
  ~CMyStringT() { Release(); }

  // Never null: the shared empty text when the string is empty.
  const T* GetString() const { return m_text; }
  operator const T*() const { return m_text; }
  size_t GetLength() const { return H::Length(m_text); }
  // Characters the owned array holds including the terminator; 0 while the
  // string uses the shared empty text.
  size_t GetCapacity() const { return m_capacity; }
  bool IsEmpty() const { return m_text[0] == T(0); }

  void Empty() { Release(); }

  // Replaces the contents with a copy of text (null or "" give the empty
  // string). text may point into this string.
  void Assign(const T* text) {
    size_t length = H::Length(text);
    if (length == 0) {
      Release();
      return;
    }
    size_t capacity = RoundCapacity(length);
    T* array = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (array) {
      H::Copy(array, text, length);
      array[length] = T(0);
    }
    Release();
    if (array) Adopt(array, capacity);
  }

  // Appends text; null or "" change nothing. text may point into this string.
  void Append(const T* text) {
    size_t extra = H::Length(text);
    if (extra == 0) return;
    size_t length = GetLength();
    size_t newLength = length + extra;
    if (m_capacity > newLength) {
      H::Move(m_text + length, text, extra);  // text may overlap our array
      m_text[newLength] = T(0);
      return;
    }
    size_t capacity = RoundCapacity(newLength);
    T* array = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (!array) return;  // allocation failure: keep the old contents
    // A fresh array rather than realloc: text may point into the old one.
    H::Copy(array, m_text, length);
    H::Copy(array + length, text, extra);
    array[newLength] = T(0);
    Release();
    Adopt(array, capacity);
  }

  // Replaces the contents with the formatted text, sized exactly. Returns
  // the length; 0 (contents unchanged) when allocation fails.
  int Format(const T* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatV(format, args);
    va_end(args);
    return n;
  }
  int FormatV(const T* format, va_list args) { return FormatAtV(0, format, args); }

  // Appends formatted text behind the current contents (exact size).
  int AppendFormat(const T* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatAtV(GetLength(), format, args);
    va_end(args);
    return n;
  }

  // Removes every leading and trailing character found in set, in place.
  void Trim(const T* set) {
    if (m_capacity == 0) return;  // shared empty text: nothing to do
    size_t length = GetLength();
    size_t start = 0;
    while (start < length && H::Contains(set, m_text[start])) ++start;
    if (start) {
      H::Move(m_text, m_text + start, length - start);
      length -= start;
      m_text[length] = T(0);
    }
    while (length && H::Contains(set, m_text[length - 1])) m_text[--length] = T(0);
  }

  // Converts ANSI (thread code page) text into this wide string. An empty or
  // failed conversion leaves the empty string and returns false.
  bool AssignWideFromAnsi(const char* ansi) {
    static_assert(std::is_same_v<T, WChar>, "AssignWideFromAnsi needs a wide string");
    int needed = AnsiToWide(nullptr, ansi, 0);
    return AssignConverted(needed, [ansi](T* array, size_t capacity) {
      return AnsiToWide(array, ansi, static_cast<int>(capacity)) > 0;
    });
  }

  // Converts UTF-16 text into this narrow string in the thread's ANSI code
  // page. An empty or failed conversion leaves the empty string, false.
  bool AssignAnsiFromWide(const WChar* wide) {
    static_assert(std::is_same_v<T, char>, "AssignAnsiFromWide needs a narrow string");
    int needed = WideToAnsi(nullptr, wide, 0);
    return AssignConverted(needed, [wide](T* array, size_t capacity) {
      return WideToAnsi(array, wide, static_cast<int>(capacity)) > 0;
    });
  }

  // Encodes UTF-16 text as UTF-8 into this narrow string (surrogates are
  // encoded one unit at a time). Returns false only when empty or when
  // allocation fails.
  bool AssignUtf8FromWide(const WChar* wide) {
    static_assert(std::is_same_v<T, char>, "AssignUtf8FromWide needs a narrow string");
    return AssignConverted(Utf8Length(wide), [wide](T* array, size_t) {
      Utf8Encode(array, wide);
      return true;
    });
  }

private:
  static T* EmptyText() { return const_cast<T*>(H::Empty()); }
  // (length | 15) + 1: the length rounded up to a multiple of 16, minus
  // one, plus the terminator.
  static size_t RoundCapacity(size_t length) { return (length | 15) + 1; }

  void Release() {
    if (m_capacity) std::free(m_text);
    m_text = EmptyText();
    m_capacity = 0;
  }
  void Adopt(T* array, size_t capacity) {
    m_text = array;
    m_capacity = capacity;
  }

  // Replaces the contents with a new array of the usual rounding for
  // `needed` characters, filled by convert(array, capacity). Nothing needed,
  // no memory or a failed conversion leave the empty string (false).
  template <typename Length, typename Convert>
  bool AssignConverted(Length needed, Convert convert) {
    Release();
    if (needed <= 0 || static_cast<size_t>(needed) > static_cast<size_t>(0x7FFFFFF0)) return false;
    size_t capacity = RoundCapacity(static_cast<size_t>(needed));
    T* array = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (!array) return false;
    if (!convert(array, capacity)) {
      std::free(array);
      return false;
    }
    Adopt(array, capacity);
    return true;
  }

  int FormatAtV(size_t position, const T* format, va_list args) {
    static_assert(std::is_same_v<T, char> || std::is_same_v<T, WChar>,
                  "Format exists for char and WChar strings");
    T* heap = m_capacity ? m_text : nullptr;
    int n = FormatToHeapV(heap, position, format, args);
    if (n < 0) return 0;  // allocation failed: the old contents stay
    if (position + static_cast<size_t>(n) == 0) {
      std::free(heap);
      m_text = EmptyText();
      m_capacity = 0;
      return 0;
    }
    m_text = heap;
    m_capacity = position + static_cast<size_t>(n) + 1;
    return n;
  }

  T* m_text = EmptyText();
  size_t m_capacity = 0;  // 0 while m_text is the shared empty text
};

using CMyStringA = CMyStringT<char>;
using CMyStringW = CMyStringT<WChar>;

}  // namespace tarvixlib
