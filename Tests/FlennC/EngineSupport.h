#pragma once

#include <array>
#include <memory>
#include <string>

#include <flenn.h>

#include "Bytes.h"

// Engine calls with the test's own ownership and message handling.
namespace flenn::engine {

struct SessionCloser {
    void operator()(flenn_session *session) const { flenn_session_close(session); }
};
using Session = std::unique_ptr<flenn_session, SessionCloser>;

struct Opened {
    Session session;
    std::string message;
};

inline Opened open(const Bytes &data) {
    std::array<char, 256> message{};
    flenn_session *session = nullptr;
    flenn_session_open(data.data(), data.size(), &session, message.data(), message.size());
    return {Session(session), message.data()};
}

struct Written {
    int status = -1;
    Bytes data;
    std::string message;
};

inline flenn_settings losslessSettings() {
    flenn_settings settings{};
    settings.luma = settings.chroma = 100;
    settings.scan = FLENN_SCAN_COUNTED;
    return settings;
}

inline Written write(flenn_session *session, const flenn_settings &settings) {
    std::array<char, 256> message{};
    std::uint8_t *data = nullptr;
    std::size_t size = 0;
    int status = flenn_session_write(session, &settings, &data, &size, message.data(), message.size());
    Written written{status, {}, message.data()};
    if (status == FLENN_OK)
        written.data = Bytes::adoptingMalloced(data, size);
    return written;
}

} // namespace flenn::engine
