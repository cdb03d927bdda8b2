// What the outside programs share on their command lines: the usage error, and numbers (on the
// command line, in scripts and in rules) read whole or refused, never taken as 0. A whole number
// is decimal or 0x hexadecimal, without sign or blanks; a real number is a finite decimal one,
// read as in the C locale whatever the locale. The Read forms say why they refuse on standard
// error: "<prefix>: bad <what> '<text>' (...)".
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace CommandLine {

// The program's name in messages: each program defines it.
extern const char *const Program;

// The start of a message on standard error: the program's name, and while a script line runs,
// "line N" of the script ("korvalis-host: line 3").
void SetScriptLine(unsigned line); // 0: no script line runs
std::string MessagePrefix();

// A usage error: the problem (unless empty) and the synopsis on standard error; gives the exit
// status 2.
int UsageError(const std::string &problem, const std::string &synopsis);

bool ParseNumber(const std::string &text, uint64_t largest, uint64_t &value);
bool ReadNumber(const char *what, const std::string &text, uint64_t largest, uint64_t &value);
bool ReadNumber(const char *what, const std::string &text, double lowest, double largest, double &value);

// Any value of an unsigned whole or a floating-point type.
template <typename T> bool ReadNumber(const char *what, const std::string &text, T &value) {
    if constexpr (std::is_floating_point_v<T>) {
        double read = 0;
        if (!ReadNumber(what, text, std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max(), read))
            return false;
        value = static_cast<T>(read);
    } else {
        static_assert(std::is_unsigned_v<T>);
        uint64_t read = 0;
        if (!ReadNumber(what, text, std::numeric_limits<T>::max(), read))
            return false;
        value = static_cast<T>(read);
    }
    return true;
}

} // namespace CommandLine
