// An owned, zero-filled block of bytes, released when it goes out of scope.
#pragma once

#include <windows.h>

#include <memory>
#include <new>

class ByteBuffer {
 public:
  explicit ByteBuffer(DWORD size)
      : data_(new (std::nothrow) BYTE[size]()), size_(data_ != nullptr ? size : 0) {}

  BYTE* data() { return data_.get(); }
  const BYTE* data() const { return data_.get(); }
  DWORD size() const { return size_; }
  // False when the allocation failed; the buffer then has size 0.
  bool valid() const { return data_ != nullptr; }

 private:
  std::unique_ptr<BYTE[]> data_;
  DWORD size_;
};
