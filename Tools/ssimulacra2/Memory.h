#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace flenn::ssimulacra2 {

// Uninitialised memory on cache-line boundaries; arrays of several megabytes are backed by huge
// pages where the system offers them, because the program touches every page of them once and
// page faults cost more than the arithmetic on virtual machines. Throws std::bad_alloc.
void *allocate(std::size_t bytes);

struct Deallocate {
    void operator()(void *p) const { std::free(p); }
};

// An array of bytes that is written once after allocation, such as decoded samples.
class ByteArray {
  public:
    ByteArray() = default;
    explicit ByteArray(std::size_t size)
        : data_(static_cast<std::uint8_t *>(allocate(size))), size_(size) {}
    std::uint8_t *data() const { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    std::unique_ptr<std::uint8_t[], Deallocate> data_;
    std::size_t size_ = 0;
};

} // namespace flenn::ssimulacra2
