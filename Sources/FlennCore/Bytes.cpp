#include "Bytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace flenn {

Bytes::Bytes(std::vector<std::uint8_t> owned) {
    auto holder = std::make_shared<const std::vector<std::uint8_t>>(std::move(owned));
    data_ = holder->data();
    size_ = holder->size();
    storage_ = std::move(holder);
}

Bytes Bytes::copying(const void *data, std::size_t size) {
    const auto *first = static_cast<const std::uint8_t *>(data);
    return Bytes(std::vector<std::uint8_t>(first, first + size));
}

Bytes Bytes::adoptingMalloced(std::uint8_t *data, std::size_t size) {
    std::shared_ptr<const void> storage(data, [](const void *p) { std::free(const_cast<void *>(p)); });
    return Bytes(std::move(storage), data, size);
}

Bytes Bytes::slice(std::size_t offset, std::size_t length) const {
    offset = std::min(offset, size_);
    length = std::min(length, size_ - offset);
    return Bytes(storage_, data_ + offset, length);
}

bool operator==(const Bytes &a, const Bytes &b) {
    return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
}

} // namespace flenn
