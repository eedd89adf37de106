#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Bytes.h"
#include "JPEGHeader.h"

// Content credentials (C2PA manifest stores carried as JUMBF boxes in APP11 packets). A rewrite
// breaks their hashes, so they are removed, and the one fact worth keeping, how the picture was
// made, moves into the XMP. Nothing here parses JUMBF or CBOR: the boxes are found by their
// headers and the source type by a byte search.
namespace flenn::ContentCredentials {

using Segment = JPEGHeader::Segment;

struct Replacement {
    Bytes data;                                    // the JPEG without its credential
    std::optional<std::string> declaredSourceType; // the full vocabulary URI the credential named
    bool labelWritten = false;                     // the XMP now carries that source type
};

// The IPTC digital source type terms, longest first, so a prefix never hides a longer term.
inline constexpr std::array<std::string_view, 20> sourceTypeTerms = {
    "compositeWithTrainedAlgorithmicMedia",
    "algorithmicallyEnhanced",
    "trainedAlgorithmicMedia",
    "computationalCapture",
    "compositeSynthetic",
    "algorithmicMedia",
    "virtualRecording",
    "compositeCapture",
    "minorHumanEdits",
    "digitalCreation",
    "dataDrivenMedia",
    "digitalCapture",
    "softwareImage",
    "screenCapture",
    "negativeFilm",
    "positiveFilm",
    "humanEdits",
    "digitalArt",
    "composite",
    "print",
};

// The JPEG without its broken credential and, when the credential declared a source type, with
// that type in its XMP; none when the JPEG carries no credential.
std::optional<Replacement> replaceBroken(const Bytes &in);

// The marker segments before the first scan, stopping also at markers that carry no length.
std::vector<Segment> segments(std::span<const std::uint8_t> bytes);

// The APP11 packets, in file order, that belong to C2PA manifest stores.
std::vector<Segment> credentialSegments(const std::vector<Segment> &segments,
                                        std::span<const std::uint8_t> bytes);

// The manifest store reassembled from its packets, each repeated box header left out.
std::vector<std::uint8_t> manifest(const std::vector<Segment> &credentials,
                                   std::span<const std::uint8_t> bytes);

// The source type a manifest declares, as its full URI with the plain http scheme.
std::optional<std::string> sourceType(std::span<const std::uint8_t> in);

} // namespace flenn::ContentCredentials
