#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "split_support.h"

namespace {

using split_support::splitBytes;
using testing_support::Bytes;
using testing_support::ByteVector;
using testing_support::TempDir;

struct TimedEvent {
    std::uint32_t tick;
    ByteVector bytes;
    bool operator==(const TimedEvent&) const = default;
};

// What a file says, track order kept: for each channel its events in file order, and
// every other event. Written apart from the splitter so that both cannot share a mistake.
struct Content {
    std::array<std::vector<TimedEvent>, 16> channels;
    std::vector<TimedEvent> others;  // end-of-track left out: the split adds its own
    std::vector<int> channelsPerTrack;
    int tracks = 0;
};

std::uint32_t readQuantity(const ByteVector& bytes, std::size_t& pos) {
    std::uint32_t value = 0;
    while (bytes.at(pos) & 0x80) {
        value = (value << 7) | (bytes[pos++] & 0x7F);
    }
    return (value << 7) | bytes[pos++];
}

Content walk(const ByteVector& file) {
    Content content;
    std::size_t pos = 14;
    content.tracks = (file.at(10) << 8) | file.at(11);
    for (int track = 0; track < content.tracks; ++track) {
        const std::size_t length = (std::size_t{file.at(pos + 4)} << 24) | (file.at(pos + 5) << 16) |
                                   (file.at(pos + 6) << 8) | file.at(pos + 7);
        const std::size_t end = pos + 8 + length;
        pos += 8;
        std::uint32_t tick = 0;
        std::uint8_t status = 0;
        std::array<bool, 16> used{};
        while (pos < end) {
            tick += readQuantity(file, pos);
            const std::uint8_t first = file.at(pos);
            std::size_t size = 0;
            int channel = -1;
            if (first == 0xFF) {
                std::size_t cursor = pos + 2;
                const std::uint32_t dataLength = readQuantity(file, cursor);
                size = cursor - pos + dataLength;
            } else if (first == 0xF0) {
                size = 1;
                while (file.at(pos + size - 1) != 0xF7) {
                    ++size;
                }
            } else if (first == 0xF1 || first == 0xF3) {
                size = 2;
            } else if (first == 0xF2) {
                size = 3;
            } else if (first == 0xF6 || first == 0xF8 || first == 0xFA || first == 0xFB || first == 0xFC ||
                       first == 0xFE) {
                size = 1;
            } else if (first >= 0xF0) {
                size = 3;
                status = first;
            } else if (first >= 0x80) {
                status = first;
                size = (first & 0xE0) == 0xC0 ? 2 : 3;
                channel = first & 0x0F;
            } else {
                size = (status & 0xE0) == 0xC0 ? 1 : 2;
                channel = status < 0xF0 ? status & 0x0F : -1;
            }
            TimedEvent event{tick, ByteVector(file.begin() + static_cast<std::ptrdiff_t>(pos),
                                              file.begin() + static_cast<std::ptrdiff_t>(pos + size))};
            pos += size;
            if (channel >= 0) {
                used[static_cast<std::size_t>(channel)] = true;
                content.channels[static_cast<std::size_t>(channel)].push_back(std::move(event));
            } else if (event.bytes != ByteVector{0xFF, 0x2F, 0x00}) {
                content.others.push_back(std::move(event));
            }
        }
        content.channelsPerTrack.push_back(static_cast<int>(std::count(used.begin(), used.end(), true)));
    }
    return content;
}

// A random song of well-formed events: channel messages of every size with and without
// running status, meta, system exclusive, system common and undefined statuses, deltas
// from 0 to past 2^28 and some in a needlessly long form.
class SongGenerator {
public:
    explicit SongGenerator(std::uint32_t seed) : m_random(seed) {}

    ByteVector song() {
        const int format = static_cast<int>(below(2));
        const int trackCount = format == 0 ? 1 : 1 + static_cast<int>(below(4));
        Bytes file;
        file.text("MThd").u32(6).u16(format).u16(trackCount).u16(below(2) ? 0xE728 : 96 + below(900));
        for (int track = 0; track < trackCount; ++track) {
            const ByteVector body = trackBody();
            file.text("MTrk").u32(static_cast<std::uint32_t>(body.size())).raw(body);
        }
        return file.bytes();
    }

private:
    std::uint32_t below(std::uint32_t limit) { return std::uniform_int_distribution<std::uint32_t>(0, limit - 1)(m_random); }
    std::uint32_t dataByte() { return below(128); }

    void delta(Bytes& body) {
        const std::uint32_t pick = below(20);
        const std::uint32_t value = pick < 10 ? 0 : pick < 18 ? below(300) : pick < 19 ? below(1u << 21) : 0x10000000u + below(1000);
        if (below(10) == 0) {
            body.u8(0x80);  // a leading zero group: same value, one byte longer
        }
        body.varLen(value);
    }

    ByteVector trackBody() {
        Bytes body;
        std::vector<std::uint32_t> channels;
        for (std::uint32_t count = 1 + below(4); channels.size() < count;) {
            channels.push_back(below(16));
        }
        std::uint32_t status = 0;
        const std::uint32_t eventCount = below(40);
        for (std::uint32_t i = 0; i < eventCount; ++i) {
            delta(body);
            const std::uint32_t kind = below(12);
            if (kind < 7) {
                const std::uint32_t type = 0x80 + 0x10 * below(7);
                const std::uint32_t next = type | channels[below(static_cast<std::uint32_t>(channels.size()))];
                if (next != status || below(2) == 0) {
                    body.u8(next);
                }
                status = next;
                body.u8(dataByte());
                if ((next & 0xE0) != 0xC0) {
                    body.u8(dataByte());
                }
            } else if (kind == 7) {
                const std::uint32_t length = below(4) == 0 ? 130 + below(10) : below(12);
                body.raw({0xFF, below(0x7F)}).varLen(length);
                for (std::uint32_t j = 0; j < length; ++j) {
                    body.u8(below(256));
                }
            } else if (kind == 8) {
                body.u8(0xF0).u8(below(6));
                for (std::uint32_t j = below(6); j > 0; --j) {
                    body.u8(dataByte());
                }
                body.u8(0xF7);
            } else if (kind == 9) {
                static constexpr std::uint32_t kSystem[] = {0xF1, 0xF2, 0xF3, 0xF6, 0xF8, 0xFA, 0xFB, 0xFC, 0xFE};
                const std::uint32_t system = kSystem[below(9)];
                body.u8(system);
                for (int j = system == 0xF2 ? 2 : (system == 0xF1 || system == 0xF3) ? 1 : 0; j > 0; --j) {
                    body.u8(dataByte());
                }
            } else if (kind == 10) {
                static constexpr std::uint32_t kUndefined[] = {0xF4, 0xF5, 0xF7, 0xF9, 0xFD};
                status = kUndefined[below(5)];
                body.u8(status).u8(dataByte()).u8(dataByte());
            } else if (status >= 0xF0) {
                body.u8(dataByte()).u8(dataByte());  // data under an undefined status
            } else {
                body.raw({0xFF, 0x01, 0x00});
            }
        }
        if (below(5) != 0) {
            delta(body);
            body.raw({0xFF, 0x2F, 0x00});
        }
        return body.bytes();
    }

    std::mt19937 m_random;
};

// Guards against any event moving in time, changing shape, changing channel or getting
// lost or reordered within its channel, and against a split that is not stable when run
// on its own output.
TEST(SplitProperty, EventsKeepTheirTicksAndASecondSplitChangesNothing) {
    TempDir dir;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const ByteVector song = SongGenerator(seed).song();
        const auto first = splitBytes(dir, song);
        ASSERT_EQ(first.result.message, "");

        const Content before = walk(song);
        const Content after = walk(first.output);
        EXPECT_EQ(after.tracks, before.tracks + first.result.addedTracks);
        for (std::size_t channel = 0; channel < 16; ++channel) {
            EXPECT_EQ(after.channels[channel], before.channels[channel]) << "channel " << channel;
        }
        EXPECT_EQ(after.others, before.others);
        for (int count : after.channelsPerTrack) {
            EXPECT_LE(count, 1);
        }

        const auto second = splitBytes(dir, first.output);
        ASSERT_EQ(second.result.message, "");
        EXPECT_EQ(second.result.addedTracks, 0);
        EXPECT_EQ(second.output, first.output);
    }
}

}  // namespace
