// An array of plain values that grows without throwing: the decoder's tables
// (references, corrections, relocations) are as large as the files make
// them, and a 32-bit updater must be able to say "out of memory" for one
// entry rather than end. Push and Reserve report a failed allocation.
//
// The values live in a block of the C library's heap, grown by realloc:
// plain values move bitwise, and a large block then grows where it lies or
// is remapped, instead of being copied into fresh pages that must all be
// faulted in again (a table of a million references grows some thirty
// times).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <utility>

template <typename T>
class GrowableArray {
  static_assert(std::is_trivially_copyable<T>::value &&
                    std::is_trivially_default_constructible<T>::value,
                "plain values only");

 public:
  GrowableArray() = default;
  // A move hands the block over and leaves the array it came from empty,
  // not holding a size without a block.
  GrowableArray(GrowableArray&& other) noexcept
      : data_(std::move(other.data_)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  GrowableArray& operator=(GrowableArray&& other) noexcept {
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }

  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  T* Data() { return data_.get(); }
  const T* Data() const { return data_.get(); }
  T* begin() { return data_.get(); }
  T* end() { return data_.get() + size_; }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + size_; }
  T& operator[](size_t i) { return data_.get()[i]; }
  const T& operator[](size_t i) const { return data_.get()[i]; }

  bool Reserve(size_t capacity) {
    if (capacity <= capacity_) return true;
    if (capacity > SIZE_MAX / sizeof(T)) return false;
    void* grown = std::realloc(data_.get(), capacity * sizeof(T));
    if (grown == nullptr) return false;  // the old block stays, as it was
    data_.release();
    data_.reset(static_cast<T*>(grown));
    capacity_ = capacity;
    return true;
  }

  bool Push(const T& value) {
    if (size_ == capacity_ && !Reserve(capacity_ < 16 ? 16 : capacity_ + capacity_ / 2)) {
      return false;
    }
    data_.get()[size_++] = value;
    return true;
  }

  // Room for `count` more values past the end, counted in: the caller
  // fills them (and may give back what it did not fill with Truncate).
  // Null when the memory cannot be had.
  T* Append(size_t count) {
    if (count > SIZE_MAX - size_ || !Reserve(size_ + count)) return nullptr;
    T* room = data_.get() + size_;
    size_ += count;
    return room;
  }

  // Keeps the first `size` values.
  void Truncate(size_t size) {
    if (size < size_) size_ = size;
  }

 private:
  struct Free {
    void operator()(T* values) const { std::free(values); }
  };
  std::unique_ptr<T, Free> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
