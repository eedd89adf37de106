#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

#include "Memory.h"

namespace flenn::ssimulacra2 {

// A zero-filled float array, for the planes and rows of the kernels.
class Buffer {
  public:
    Buffer() = default;
    explicit Buffer(std::size_t count)
        : data_(static_cast<float *>(allocate(count * sizeof(float)))) {
        std::memset(data_.get(), 0, count * sizeof(float));
    }
    float *data() const { return data_.get(); }

  private:
    std::unique_ptr<float[], Deallocate> data_;
};

} // namespace flenn::ssimulacra2
