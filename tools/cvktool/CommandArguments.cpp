#include "CommandArguments.h"

#include <charconv>

namespace cvktool {

const std::string* Arguments::value(std::string_view name) const {
    const std::string* last = nullptr;
    for (const auto& [option, text] : values) {
        if (option == name) {
            last = &text;
        }
    }
    return last;
}

bool Arguments::flag(std::string_view name) const {
    for (const std::string& option : flags) {
        if (option == name) {
            return true;
        }
    }
    return false;
}

std::variant<Arguments, UsageError> splitArguments(const std::vector<std::string>& args,
                                                   std::initializer_list<OptionSpec> specs) {
    Arguments out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!optionsEnded && arg == "-h") {
                out.help = true;
            } else {
                out.files.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help") {
            out.help = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : specs) {
            if (candidate.name == name) {
                spec = &candidate;
            }
        }
        if (spec == nullptr) {
            return UsageError{"unknown option '" + arg + "'"};
        }
        if (!spec->takesValue) {
            if (equals != std::string::npos) {
                return UsageError{"option '--" + name + "' takes no value"};
            }
            out.flags.push_back(name);
        } else if (equals != std::string::npos) {
            out.values.emplace_back(name, arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            out.values.emplace_back(name, args[++i]);
        } else {
            return UsageError{"option '--" + name + "' needs a value"};
        }
    }
    return out;
}

// A whole decimal number in [low, high] and nothing else; a '+' is allowed where a sign
// is meaningful.
std::optional<long long> parseNumber(std::string_view text, long long low, long long high) {
    if (low < 0 && !text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace cvktool
