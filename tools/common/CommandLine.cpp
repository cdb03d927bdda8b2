// The outside programs' usage errors and number reader (see CommandLine.h).
#include "CommandLine.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace CommandLine {

namespace {
unsigned gScriptLine = 0;
} // namespace

void SetScriptLine(unsigned line) {
    gScriptLine = line;
}

std::string MessagePrefix() {
    return gScriptLine == 0 ? std::string(Program)
                            : std::string(Program) + ": line " + std::to_string(gScriptLine);
}

int UsageError(const std::string &problem, const std::string &synopsis) {
    if (!problem.empty())
        std::fprintf(stderr, "%s: %s\n", MessagePrefix().c_str(), problem.c_str());
    std::fprintf(stderr, "%s", synopsis.c_str());
    return 2;
}

bool ParseNumber(const std::string &text, uint64_t largest, uint64_t &value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *first = text.data() + (hex ? 2 : 0);
    const char *last = text.data() + text.size();
    uint64_t read = 0;
    const auto result = std::from_chars(first, last, read, hex ? 16 : 10);
    if (first == last || result.ec != std::errc() || result.ptr != last || read > largest)
        return false;
    value = read;
    return true;
}

bool ReadNumber(const char *what, const std::string &text, uint64_t largest, uint64_t &value) {
    if (ParseNumber(text, largest, value))
        return true;
    std::fprintf(stderr, "%s: bad %s '%s' (a whole number from 0 to %" PRIu64 ")\n", MessagePrefix().c_str(),
                 what, text.c_str(), largest);
    return false;
}

bool ReadNumber(const char *what, const std::string &text, double lowest, double largest, double &value) {
    // from_chars reads no sign '+' but is deaf to the locale (a host may set one with a decimal comma).
    const char *first = text.data() + (text.size() > 1 && text[0] == '+' && text[1] != '-' ? 1 : 0);
    const char *last = text.data() + text.size();
    double read = 0;
    const auto result = std::from_chars(first, last, read);
    if (first != last && result.ec == std::errc() && result.ptr == last && std::isfinite(read) &&
        read >= lowest && read <= largest) {
        value = read;
        return true;
    }
    std::fprintf(stderr, "%s: bad %s '%s' (a number from %g to %g)\n", MessagePrefix().c_str(), what,
                 text.c_str(), lowest, largest);
    return false;
}

} // namespace CommandLine
