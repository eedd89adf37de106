#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace flenn {

// An immutable, contiguous byte buffer. Copies and slices share one storage, so passing
// a photo's bytes around never duplicates them; a buffer handed out by the engine is
// adopted as it is and released with free().
class Bytes {
  public:
    Bytes() = default;
    explicit Bytes(std::vector<std::uint8_t> owned);
    static Bytes copying(const void *data, std::size_t size);
    static Bytes copying(std::string_view text) { return copying(text.data(), text.size()); }
    static Bytes adoptingMalloced(std::uint8_t *data, std::size_t size);

    const std::uint8_t *data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t *begin() const { return data_; }
    const std::uint8_t *end() const { return data_ + size_; }
    std::uint8_t operator[](std::size_t index) const { return data_[index]; }
    std::span<const std::uint8_t> span() const { return {data_, size_}; }

    // A view of `length` bytes from `offset` (both clamped to the buffer) sharing this storage.
    Bytes slice(std::size_t offset, std::size_t length) const;
    Bytes prefix(std::size_t length) const { return slice(0, length); }
    Bytes suffix(std::size_t offset) const { return slice(offset, size_); }

    friend bool operator==(const Bytes &a, const Bytes &b);

  private:
    Bytes(std::shared_ptr<const void> storage, const std::uint8_t *data, std::size_t size)
        : storage_(std::move(storage)), data_(data), size_(size) {}

    std::shared_ptr<const void> storage_;
    const std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace flenn
