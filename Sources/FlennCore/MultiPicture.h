#pragma once

#include <optional>

#include "Bytes.h"

namespace flenn {

// A multi-picture file split into its primary picture and the pictures after it, so that the
// primary can be rewritten and the file put together again with a correct index.
struct MultiPicture {
    Bytes primary;             // the first picture, up to the earliest following one
    Bytes trailing;            // everything from the earliest following picture to the end
    bool onlyPreviews = false; // at least one following picture, and all are large thumbnails

    // The split of a whole file, or none when its index is missing or does not fit the file.
    static std::optional<MultiPicture> file(const Bytes &file);

    // The whole file again around a rewritten primary that still carries the index segment:
    // sizes and offsets corrected, the trailing pictures appended unchanged. Throws CodecError
    // when the index cannot be carried over.
    Bytes rebuild(const Bytes &rewrittenPrimary) const;

    // The bytes without their index segment (unchanged when they have none).
    static Bytes withoutIndex(const Bytes &jpeg);
};

} // namespace flenn
