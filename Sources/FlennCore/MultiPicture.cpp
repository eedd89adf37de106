#include "MultiPicture.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "CodecError.h"
#include "MPFIndex.h"
#include "Sentences.h"

namespace flenn {

namespace {

constexpr std::uint32_t typeCodeMask = 0xFFFFFF;
constexpr std::uint32_t largeThumbnailVGA = 0x010001;
constexpr std::uint32_t largeThumbnailFullHD = 0x010002;

// An index field is 32 bits wide; a value beyond that cannot be stored truthfully.
std::uint32_t field(std::int64_t value) {
    if (value < 0 || value > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
        throw CodecError(std::string(Sentences::multiPictureIndexInconsistent));
    return std::uint32_t(value);
}

} // namespace

std::optional<MultiPicture> MultiPicture::file(const Bytes &file) {
    std::optional<MPFIndex> index = MPFIndex::read(file.span());
    if (!index || index->entries.empty() || index->entries[0].offset != 0)
        return std::nullopt;
    std::size_t first = file.size();
    std::size_t following = 0;
    bool previews = true;
    for (std::size_t i = 1; i < index->entries.size(); i++) {
        const MPFIndex::Entry &entry = index->entries[i];
        if (entry.size == 0)
            continue;
        const std::size_t start = index->header + entry.offset;
        if (entry.offset == 0 || start + entry.size > file.size())
            return std::nullopt;
        first = std::min(first, start);
        following += 1;
        const std::uint32_t type = entry.attribute & typeCodeMask;
        previews = previews && (type == largeThumbnailVGA || type == largeThumbnailFullHD);
    }
    if (index->header >= first)
        return std::nullopt;
    return MultiPicture{file.prefix(first), file.suffix(first), following > 0 && previews};
}

Bytes MultiPicture::rebuild(const Bytes &rewrittenPrimary) const {
    std::optional<MPFIndex> before = MPFIndex::read(primary.span());
    std::optional<MPFIndex> after = MPFIndex::read(rewrittenPrimary.span());
    if (!before || !after || before->entries.size() != after->entries.size())
        throw CodecError(std::string(Sentences::multiPictureIndexNotUpdated));

    std::vector<std::uint8_t> result;
    result.reserve(rewrittenPrimary.size() + trailing.size());
    result.assign(rewrittenPrimary.begin(), rewrittenPrimary.end());
    const std::int64_t delta = std::int64_t(rewrittenPrimary.size()) - std::int64_t(primary.size());
    for (std::size_t i = 0; i < before->entries.size(); i++) {
        MPFIndex::Entry entry = before->entries[i];
        if (i == 0) {
            entry.size = field(std::int64_t(rewrittenPrimary.size()));
        } else if (entry.size > 0) {
            const std::int64_t moved =
                std::int64_t(before->header) + entry.offset + delta - std::int64_t(after->header);
            if (moved < 1)
                throw CodecError(std::string(Sentences::multiPictureIndexInconsistent));
            entry.offset = field(moved);
        }
        after->write(entry, after->entryTable + 16 * i, result);
    }
    result.insert(result.end(), trailing.begin(), trailing.end());
    return Bytes(std::move(result));
}

Bytes MultiPicture::withoutIndex(const Bytes &jpeg) {
    std::optional<JPEGHeader::Segment> segment = MPFIndex::segment(jpeg.span());
    if (!segment)
        return jpeg;
    std::vector<std::uint8_t> result(jpeg.begin(), jpeg.begin() + segment->range.start);
    result.insert(result.end(), jpeg.begin() + segment->range.end, jpeg.end());
    return Bytes(std::move(result));
}

} // namespace flenn
