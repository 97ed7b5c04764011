#pragma once

// A small, strict Standard MIDI file reader for checking files the tools write. It is
// written apart from the tools on purpose: a fault shared by writer and reader would
// otherwise go unseen.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tooltest {

struct SmfEvent {
    std::uint32_t tick = 0;
    std::uint8_t status = 0;    // running status already applied
    std::uint8_t metaType = 0;  // for status 0xFF
    std::vector<std::uint8_t> data;
    bool isChannel() const { return status < 0xF0; }
    bool isNoteOn() const { return (status & 0xF0) == 0x90 && data.size() == 2 && data[1] > 0; }
    std::string text() const { return std::string(data.begin(), data.end()); }
};

struct Smf {
    std::uint16_t format = 0;
    std::uint16_t division = 0;
    std::vector<std::vector<SmfEvent>> tracks;
};

// Empty on success, else what is wrong and where.
inline std::string readSmf(const std::vector<std::uint8_t>& bytes, Smf& smf) {
    std::size_t at = 0;
    auto need = [&](std::size_t count, std::size_t end) { return at <= end && end - at >= count; };
    auto be = [&](int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = value << 8 | bytes[at++];
        }
        return value;
    };
    if (!need(14, bytes.size()) || std::string(bytes.begin(), bytes.begin() + 4) != "MThd") {
        return "bad header";
    }
    at = 4;
    if (be(4) != 6) {
        return "bad header length";
    }
    smf.format = static_cast<std::uint16_t>(be(2));
    const std::uint32_t trackCount = be(2);
    smf.division = static_cast<std::uint16_t>(be(2));

    while (smf.tracks.size() < trackCount) {
        if (!need(8, bytes.size())) {
            return "missing track " + std::to_string(smf.tracks.size());
        }
        const bool isTrack = std::string(bytes.begin() + static_cast<long>(at),
                                         bytes.begin() + static_cast<long>(at) + 4) == "MTrk";
        at += 4;
        const std::uint32_t length = be(4);
        if (!need(length, bytes.size())) {
            return "chunk runs past the end of the file";
        }
        const std::size_t end = at + length;
        if (!isTrack) {
            at = end;
            continue;
        }
        const std::string where = "track " + std::to_string(smf.tracks.size()) + ": ";
        std::vector<SmfEvent>& events = smf.tracks.emplace_back();
        std::uint32_t tick = 0;
        std::uint8_t running = 0;
        bool ended = false;
        auto vlq = [&](std::uint32_t& value) {
            value = 0;
            for (int i = 0; i < 4; ++i) {
                if (!need(1, end)) {
                    return false;
                }
                const std::uint8_t byte = bytes[at++];
                value = value << 7 | (byte & 0x7F);
                if ((byte & 0x80) == 0) {
                    return true;
                }
            }
            return false;
        };
        while (at < end) {
            if (ended) {
                return where + "events after End-of-Track";
            }
            SmfEvent event;
            std::uint32_t delta = 0;
            if (!vlq(delta) || !need(1, end)) {
                return where + "bad delta time";
            }
            event.tick = tick += delta;
            std::uint8_t status = bytes[at];
            if (status & 0x80) {
                ++at;
            } else if (running == 0) {
                return where + "data byte without running status";
            } else {
                status = running;
            }
            event.status = status;
            std::uint32_t size = 0;
            if (status == 0xFF) {
                if (!need(1, end)) {
                    return where + "cut meta event";
                }
                event.metaType = bytes[at++];
                running = 0;
            } else if (status == 0xF0 || status == 0xF7) {
                running = 0;
            } else if (status < 0xF0) {
                size = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                running = status;
            } else {
                return where + "system message in a file";
            }
            if (status >= 0xF0 && !vlq(size)) {
                return where + "bad length";
            }
            if (!need(size, end)) {
                return where + "event runs past the chunk";
            }
            event.data.assign(bytes.begin() + static_cast<long>(at),
                              bytes.begin() + static_cast<long>(at + size));
            at += size;
            for (std::uint8_t byte : event.data) {
                if (event.isChannel() && byte >= 0x80) {
                    return where + "channel data byte above 127";
                }
            }
            ended = status == 0xFF && event.metaType == 0x2F;
            events.push_back(std::move(event));
        }
        if (!ended) {
            return where + "no End-of-Track at its end";
        }
    }
    return at == bytes.size() ? std::string() : "bytes after the last track";
}

// Empty when every track carries channel events of at most one channel and the tracks
// without any come first.
inline std::string checkChannelLayout(const Smf& smf) {
    bool seenChannelTrack = false;
    for (std::size_t t = 0; t < smf.tracks.size(); ++t) {
        std::set<int> channels;
        for (const SmfEvent& event : smf.tracks[t]) {
            if (event.isChannel()) {
                channels.insert(event.status & 0x0F);
            }
        }
        if (channels.size() > 1) {
            return "track " + std::to_string(t) + " mixes channels";
        }
        if (channels.empty() && seenChannelTrack) {
            return "track " + std::to_string(t) + " has no channel events but follows one that has";
        }
        seenChannelTrack = seenChannelTrack || !channels.empty();
    }
    return {};
}

}  // namespace tooltest
