#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <flenn.h>

#include "Bytes.h"

// Engine calls with the test's own ownership and message handling.
namespace flenn::engine {

struct SessionCloser {
    void operator()(flenn_session *session) const { flenn_session_close(session); }
};
using Handle = std::unique_ptr<flenn_session, SessionCloser>;

struct Opened {
    Handle session;
    std::string message;
};

inline Opened open(const Bytes &data) {
    std::array<char, 256> message{};
    flenn_session *session = nullptr;
    flenn_session_open(data.data(), data.size(), &session, message.data(), message.size());
    return {Handle(session), message.data()};
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

// A session on which every call is expected to succeed.
class Session {
  public:
    explicit Session(const Bytes &jpeg) : opened_(open(jpeg)), handle(opened_.session.get()) {
        EXPECT_NE(handle, nullptr) << opened_.message;
    }

    // A counted sequential write, optionally of a sample {columns, rows, tile pixels}.
    Bytes write(const flenn_settings &settings, std::optional<std::array<int, 3>> sample = {}) {
        flenn_settings s = settings;
        s.scan = FLENN_SCAN_COUNTED;
        if (sample) {
            s.sample_columns = (*sample)[0];
            s.sample_rows = (*sample)[1];
            s.tile_pixels = (*sample)[2];
        }
        Written written = engine::write(handle, s);
        EXPECT_EQ(written.status, FLENN_OK) << written.message;
        return written.data;
    }

    std::unique_ptr<flenn_measurements, void (*)(flenn_measurements *)> measure() {
        flenn_measurements *record = nullptr;
        char message[256] = "";
        EXPECT_EQ(flenn_session_measure(handle, &record, message, sizeof message), 0) << message;
        return {record, flenn_measurements_free};
    }

  private:
    Opened opened_;

  public:
    flenn_session *const handle;
};

} // namespace flenn::engine
