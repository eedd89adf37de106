#include "Batch.h"
#include "BatchDetail.h"
#include "Text.h"

namespace flenn::Batch {

namespace detail {

std::string_view pathExtension(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == last.size())
        return {};
    return last.substr(dot + 1);
}

} // namespace detail

std::string unused(std::string_view name, bool isFolder, std::unordered_set<std::string> &taken) {
    const std::string_view extension = isFolder ? std::string_view() : detail::pathExtension(name);
    const std::string_view base =
        extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
    std::string candidate(name);
    for (int n = 2; !taken.insert(Text::folded(candidate)).second; ++n) {
        candidate = std::string(base) + " " + std::to_string(n);
        if (!extension.empty())
            candidate += "." + std::string(extension);
    }
    return candidate;
}

} // namespace flenn::Batch
