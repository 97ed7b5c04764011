#pragma once

// The command line after a cvktool command's name: options before or after the files,
// as "--name VALUE" or "--name=VALUE", "--" ending them; and the numbers they carry.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "PlayOptions.h"

namespace cvktool {

struct OptionSpec {
    std::string_view name;
    bool takesValue;
};

struct Arguments {
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> values;  // in command-line order
    std::vector<std::string> flags;
    bool help = false;

    // The last value given for `name`; nullptr when none was.
    const std::string* value(std::string_view name) const;
    bool flag(std::string_view name) const;
};

// Splits the arguments by `specs`; "-h" and "--help" ask for help.
std::variant<Arguments, UsageError> splitArguments(const std::vector<std::string>& args,
                                                   std::initializer_list<OptionSpec> specs);

// A whole decimal number in [low, high] and nothing else; a '+' is allowed where a sign
// is meaningful.
std::optional<long long> parseNumber(std::string_view text, long long low, long long high);

}  // namespace cvktool
