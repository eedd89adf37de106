#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The XMP side of content credentials: writes the IPTC DigitalSourceType label into a JPEG's
// XMP packet with a small tag scanner, never reformatting what is already there.
namespace flenn::ContentCredentials {

// The payload openings of the XMP and the Exif APP1 segments.
inline constexpr std::string_view xmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
inline constexpr std::string_view exifSignature{"Exif\0\0", 6};

// An opening tag of an XML text.
struct Tag {
    std::string name;
    std::size_t nameEnd = 0; // offset just after the name
    std::size_t end = 0;     // offset just after the closing ">"
    bool selfClosing = false;
    int depth = 0; // elements open before it
    std::map<std::string, std::string> attributes;
};

// Puts the source type label into the JPEG's XMP, adding an XMP segment when there is none.
// True when the XMP carries the label afterwards; false (nothing changed) when it cannot.
bool writeLabel(std::string_view type, std::vector<std::uint8_t> &into);

// The XMP packet with the label added, the packet itself when it already states this type, or
// none when it states another, cannot be read, or would grow beyond `limit` bytes after
// giving up the padding before its trailer.
std::optional<std::string> labeled(std::string_view packet, std::string_view type,
                                   std::size_t limit);

// The opening tags in document order, or none when the text is not well formed.
std::optional<std::vector<Tag>> openingTags(std::string_view in);

} // namespace flenn::ContentCredentials
