// A seek sends the state its messages leave behind instead of every message. Checked
// against a model of what a channel keeps: controllers, the program with the bank it was
// chosen from, bend, pressure, and every registered and non-registered parameter as the
// data entries (and increments) of the parameter selected at the time set them.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "engine.h"

namespace {

struct ChannelModel {
    std::array<int, 128> controllers{};
    int program = -1;
    int programBank = -1;
    int bend = -1;
    int pressure = -1;
    bool registered = true;  // which kind of parameter the last select chose
    std::map<std::tuple<bool, int, int>, std::pair<int, int>> parameters;

    bool operator==(const ChannelModel&) const = default;

    void apply(std::uint32_t message) {
        const int status = message & 0xF0;
        const int data1 = (message >> 8) & 0x7F;
        const int data2 = (message >> 16) & 0x7F;
        if (status == 0xC0) {
            program = data1;
            programBank = controllers[0] * 128 + controllers[32];
        } else if (status == 0xD0) {
            pressure = data1;
        } else if (status == 0xE0) {
            bend = data1 | data2 << 7;
        } else if (status == 0xB0) {
            controller(data1, data2);
        }
    }

    void controller(int number, int value) {
        const auto selected = registered ? std::make_tuple(true, controllers[101], controllers[100])
                                         : std::make_tuple(false, controllers[99], controllers[98]);
        switch (number) {
            case 6:
                parameters[selected].first = value;
                break;
            case 38:
                parameters[selected].second = value;
                break;
            case 96:
                ++parameters[selected].second;
                break;
            case 97:
                --parameters[selected].second;
                break;
            case 98:
            case 99:
                registered = false;
                break;
            case 100:
            case 101:
                registered = true;
                break;
            case 121:
                controllers.fill(0);
                bend = pressure = -1;
                break;
            default:
                break;
        }
        if (number != 96 && number != 97 && number != 121) {
            controllers[static_cast<std::size_t>(number)] = value;
        }
    }
};

std::array<ChannelModel, 16> play(const std::vector<std::uint32_t>& messages) {
    std::array<ChannelModel, 16> channels{};
    for (const std::uint32_t m : messages) {
        channels[m & 0x0F].apply(m);
    }
    return channels;
}

std::uint32_t cc(int channel, int number, int value) {
    return static_cast<std::uint32_t>(0xB0 | channel | number << 8 | value << 16);
}
std::uint32_t programChange(int channel, int program) {
    return static_cast<std::uint32_t>(0xC0 | channel | program << 8);
}

struct BurstCase {
    const char* name;
    std::vector<std::uint32_t> messages;
    std::size_t expectedKept;
};

class SeekBurst : public testing::TestWithParam<BurstCase> {};

// Guards against a seek that drops what a later message depends on (the bank before a
// program, the parameter before its data) or keeps what nothing needs.
TEST_P(SeekBurst, KeepsTheStateAndDropsWhatIsReplaced) {
    std::vector<std::uint32_t> burst = GetParam().messages;
    pulsant::CoalesceSeekBurst(burst);
    EXPECT_EQ(play(burst), play(GetParam().messages));
    EXPECT_EQ(burst.size(), GetParam().expectedKept);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SeekBurst,
    testing::Values(
        BurstCase{"LastValueOfEachController",
                  {cc(0, 7, 10), cc(0, 10, 1), cc(0, 7, 20), cc(1, 7, 30)},
                  3},
        BurstCase{"NotesAndKeyPressureGo", {0x00403C90u, 0x00403C80u, 0x00103CA0u, cc(0, 1, 5)}, 1},
        BurstCase{"BankSelectedAfterTheLastProgram",
                  {cc(0, 0, 8), programChange(0, 5), cc(0, 0, 0), cc(0, 0, 1)},
                  3},
        BurstCase{"DataEntryForTwoParameters",
                  {cc(0, 101, 0), cc(0, 100, 0), cc(0, 6, 12), cc(0, 101, 0), cc(0, 100, 1),
                   cc(0, 6, 64)},
                  6},
        BurstCase{"RepeatedDataEntryForOneParameter",
                  {cc(0, 101, 0), cc(0, 100, 0), cc(0, 6, 2), cc(0, 6, 12)},
                  3},
        BurstCase{
            "IncrementReadsTheDataBeforeIt",
            {cc(0, 101, 0), cc(0, 100, 0), cc(0, 38, 2), cc(0, 96, 0), cc(0, 38, 5), cc(0, 96, 0)},
            6},
        BurstCase{"ResetKeepsWhatCameBefore", {cc(0, 7, 10), cc(0, 121, 0), cc(0, 7, 20)}, 3},
        BurstCase{
            "LastBendAndPressure", {0x00004000E2u, 0x00002000E2u, 0x000010D2u, 0x000011D2u}, 2}),
    [](const testing::TestParamInfo<BurstCase>& param) { return std::string(param.param.name); });

// Guards against any order of controllers, selects, data entries, programs and resets
// for which the kept messages set a channel otherwise than the whole burst.
TEST(SeekBurstProperty, RandomBurstsLeaveTheSameState) {
    const int controllers[] = {0, 32, 6, 38, 96, 97, 98, 99, 100, 101, 7, 7, 10, 121};
    std::mt19937 random(20261208);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint32_t> burst;
        const int length = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            const int channel = static_cast<int>(random() % 2);
            const int value = static_cast<int>(random() % 3);
            switch (random() % 6) {
                case 0:
                    burst.push_back(programChange(channel, value));
                    break;
                case 1:
                    burst.push_back(static_cast<std::uint32_t>(0xE0 | channel | value << 16));
                    break;
                default:
                    burst.push_back(
                        cc(channel, controllers[random() % std::size(controllers)], value));
                    break;
            }
        }
        std::vector<std::uint32_t> kept = burst;
        pulsant::CoalesceSeekBurst(kept);
        ASSERT_EQ(play(kept), play(burst))
            << "round " << round << ": " << testing::PrintToString(burst);
    }
}

}  // namespace
