// Owner types: each holds one Windows resource and releases it when it goes out of scope, so
// a function's every exit releases what it acquired. Nothrow and movable, never copyable.
#pragma once

#include <utility>

#include "platform/win32.h"

template <class Traits>
class Owner {
 public:
  using Type = typename Traits::Type;

  Owner() = default;
  explicit Owner(Type value) : m_value(value) {}
  Owner(Owner&& other) noexcept : m_value(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  ~Owner() { reset(); }

  Type get() const { return m_value; }
  explicit operator bool() const { return m_value != Traits::Empty(); }
  // Gives the resource up to a caller that releases it some other way.
  Type release() { return std::exchange(m_value, Traits::Empty()); }
  void reset(Type value = Traits::Empty()) {
    Type old = std::exchange(m_value, value);
    if (old != Traits::Empty()) Traits::Close(old);
  }

 private:
  Type m_value = Traits::Empty();
};

// Kernel objects that report failure as NULL: events, threads, notification registrations.
struct HandleTraits {
  using Type = HANDLE;
  static Type Empty() { return NULL; }
  static void Close(Type handle) { CloseHandle(handle); }
};
// CreateFileA reports failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { CloseHandle(handle); }
};
struct DevInfoTraits {
  using Type = HDEVINFO;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type set) { SetupDiDestroyDeviceInfoList(set); }
};
struct RegKeyTraits {
  using Type = HKEY;
  static Type Empty() { return NULL; }
  static void Close(Type key) { RegCloseKey(key); }
};
struct InfTraits {
  using Type = HINF;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Type inf) { SetupCloseInfFile(inf); }
};

using UniqueHandle = Owner<HandleTraits>;
using UniqueFile = Owner<FileHandleTraits>;
using UniqueDevInfo = Owner<DevInfoTraits>;
using UniqueRegKey = Owner<RegKeyTraits>;
using UniqueInf = Owner<InfTraits>;
