// One owner for every kind of handle the programs open: kernel handles,
// registry keys, find handles, C runtime streams, iconv descriptors, memory
// a system call allocated. The kind is three template arguments: the value
// type, the function that closes it, and which values own nothing. Each kind
// gets one alias (UniqueHandle, UniqueRegKey, UniqueFile, ...), so every early
// return closes what was opened and nobody writes another owner class.
//
// No platform header here: the Win32 kinds live in win32_handle.h, the
// portable ones beside their users; the C runtime stream is at the end.
#pragma once

#include <cstdio>
#include <utility>

// Values that own nothing: the type's zero value (null pointer, 0).
template <typename T>
struct ZeroIsEmpty {
  static T Empty() { return T(); }
  static bool Owns(T value) { return value != T(); }
};

// `CloseFn` is a function `bool (T)` that releases the value and says whether
// that succeeded (a write-back can fail at close time, so callers that care
// may ask). `Values` says which values own nothing (see ZeroIsEmpty).
template <typename T, bool (*CloseFn)(T), typename Values = ZeroIsEmpty<T>>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  ~UniqueResource() { Close(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  T Get() const { return value_; }
  bool IsValid() const { return Values::Owns(value_); }
  explicit operator bool() const { return IsValid(); }

  // Closes what is owned and takes `value` instead.
  void Reset(T value = Values::Empty()) {
    Close();
    value_ = value;
  }
  // Gives the value away; the caller closes it.
  T Release() { return std::exchange(value_, Values::Empty()); }
  // For functions that return a handle through a pointer argument.
  T* Receive() {
    Close();
    return &value_;
  }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    bool ok = true;
    if (IsValid()) ok = CloseFn(value_);
    value_ = Values::Empty();
    return ok;
  }

 private:
  T value_ = Values::Empty();
};

// A C runtime stream; closing flushes, so Close() can fail.
inline bool CloseStream(std::FILE* stream) { return std::fclose(stream) == 0; }
using UniqueFile = UniqueResource<std::FILE*, CloseStream>;
