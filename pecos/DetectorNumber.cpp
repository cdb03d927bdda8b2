// The number in a PECOS detector reply, found without the regular expression.
#include "pecos/DetectorNumber.h"

#include <charconv>
#include <cmath>

#include "core/StringUtils.h"
#include "platform/Text.h"

namespace {

// True when no byte is NUL or above 0x7F (control characters included): text that the expression
// sees byte for byte. A NUL or a non-ASCII byte can change what it sees, so such a reply goes to
// the expression itself.
bool IsPlainReply(const std::string &text) {
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == 0 || u > 0x7F)
            return false;
    }
    return true;
}

// Where the pattern [-+]?[0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)? matches at begin, and how far: its
// longest match there, which is the one the expression returns (the greedy parts give back
// digits only to the [0-9]+ that must follow them). npos when it does not match at begin.
size_t MatchEnd(const std::string &text, size_t begin) {
    const size_t size = text.size();
    size_t i = begin;
    if (i < size && (text[i] == '+' || text[i] == '-'))
        ++i;
    const size_t digits = i;
    while (i < size && Platform::IsAsciiDigit(text[i]))
        ++i;
    size_t end;
    if (i + 1 < size && text[i] == '.' && Platform::IsAsciiDigit(text[i + 1])) {
        end = i + 2;
        while (end < size && Platform::IsAsciiDigit(text[end]))
            ++end;
    } else if (i > digits) {
        end = i;
    } else {
        return std::string::npos;
    }
    if (end < size && (text[end] == 'e' || text[end] == 'E')) {
        size_t exponent = end + 1;
        if (exponent < size && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        if (exponent < size && Platform::IsAsciiDigit(text[exponent])) {
            while (exponent < size && Platform::IsAsciiDigit(text[exponent]))
                ++exponent;
            end = exponent;
        }
    }
    return end;
}

// The host's 32-bit float of the number; false when the number lies beyond its range (tiny
// numbers round to zero and stay readings).
bool ToHostFloat(double number, float &fValue) {
    const float value = static_cast<float>(number);
    if (!std::isfinite(value))
        return false;
    fValue = value;
    return true;
}

} // namespace

bool ReadDetectorNumber(const std::string &sReply, float &fValue) {
    double number = 0.0;
    if (!IsPlainReply(sReply)) {
        if (RegexMatch<double>(sReply, FloatNumberPattern, number, false) != 0)
            return false;
        return ToHostFloat(number, fValue);
    }
    for (size_t begin = 0; begin < sReply.size(); ++begin) {
        const size_t end = MatchEnd(sReply, begin);
        if (end == std::string::npos)
            continue;
        // from_chars reads what strtod reads but a leading '+'; out of range goes the long way.
        const char *first = sReply.data() + begin + (sReply[begin] == '+' ? 1 : 0);
        const char *last = sReply.data() + end;
        const auto converted = std::from_chars(first, last, number);
        if (converted.ec != std::errc() || converted.ptr != last)
            number = ParseDouble(sReply.substr(begin, end - begin));
        return ToHostFloat(number, fValue);
    }
    return false;
}
