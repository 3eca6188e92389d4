// An array of plain values that grows without throwing: the decoder's tables
// (references, corrections, relocations) are as large as the files make
// them, and a 32-bit updater must be able to say "out of memory" for one
// entry rather than end. Push and Reserve report a failed allocation.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

template <typename T>
class GrowableArray {
  static_assert(std::is_trivially_copyable<T>::value, "plain values only");

 public:
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  T* Data() { return data_.get(); }
  const T* Data() const { return data_.get(); }
  T* begin() { return data_.get(); }
  T* end() { return data_.get() + size_; }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

  bool Reserve(size_t capacity) {
    if (capacity <= capacity_) return true;
    if (capacity > SIZE_MAX / sizeof(T)) return false;
    std::unique_ptr<T[]> grown(new (std::nothrow) T[capacity]);
    if (!grown) return false;
    if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_ * sizeof(T));
    data_ = std::move(grown);
    capacity_ = capacity;
    return true;
  }

  bool Push(const T& value) {
    if (size_ == capacity_ && !Reserve(capacity_ < 16 ? 16 : capacity_ + capacity_ / 2)) {
      return false;
    }
    data_[size_++] = value;
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
  std::unique_ptr<T[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};
