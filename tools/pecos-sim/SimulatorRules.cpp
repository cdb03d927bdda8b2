// Rules and default answers of the PECOS simulator.
#include "SimulatorRules.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "common/CommandLine.h"

namespace PecosSim {

namespace {

const char *const ScreenKeywords[] = {"FREQUENCY",         "FIELDSTRENGTH",
                                      "FORWARDPOWER",      "REFLECTEDPOWER",
                                      "NETTOPOWER",        "CARRIERLEVEL",
                                      "MODULATION",        "HEIGHT",
                                      "POLARISATION",      "ANGLE",
                                      "AVERAGE",           "CALCULATEDFIELD",
                                      "CALCULATEDCURRENT", "CALCULATEDVOLTAGE"};

bool StartsWith(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool Matches(const std::string &match, const std::string &line) {
    if (match == "*")
        return true;
    if (match == "@auth")
        return Classify(line) == LineKind::Auth;
    if (match == "@cmd")
        return Classify(line) == LineKind::Command;
    if (match == "@idn")
        return Classify(line) == LineKind::Identification;
    if (match == "@detector")
        return Classify(line) == LineKind::Detector;
    if (match == "@screen")
        return Classify(line) == LineKind::Screen;
    if (!match.empty() && match.back() == '*')
        return StartsWith(line, match.substr(0, match.size() - 1));
    return match == line;
}

std::string WithoutRequestPrefix(std::string name) {
    for (size_t at; (at = name.find("REQ-")) != std::string::npos;)
        name.erase(at, 4);
    return name;
}

} // namespace

LineKind Classify(const std::string &line) {
    if (line == "IDN?")
        return LineKind::Identification;
    if (StartsWith(line, "AUTH-"))
        return LineKind::Auth;
    if (StartsWith(line, "CMD-"))
        return LineKind::Command;
    std::string word = line.substr(0, line.find(' '));
    if (StartsWith(word, "ID_"))
        word.erase(0, 3);
    if (word.size() < line.size())
        for (const char *keyword : ScreenKeywords)
            if (word == keyword)
                return LineKind::Screen;
    return LineKind::Detector;
}

std::string Escape(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string Unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        default:
            out += text[i];
        }
    }
    return out;
}

std::optional<Rule> ParseRule(const std::string &text, std::string &error) {
    std::istringstream in(text);
    Rule rule;
    if (!(in >> rule.Match)) {
        error = "a rule needs a match";
        return std::nullopt;
    }
    std::string token;
    while (in >> token) {
        auto number = [&](const std::string &prefix, unsigned &out) {
            uint64_t value = 0;
            if (!CommandLine::ParseNumber(token.substr(prefix.size()), LargestRuleNumber, value)) {
                error = "bad number in " + token;
                return false;
            }
            out = static_cast<unsigned>(value);
            return true;
        };
        if (StartsWith(token, "delay=")) {
            if (!number("delay=", rule.Action.DelayMs))
                return std::nullopt;
        } else if (StartsWith(token, "cut=")) {
            unsigned cut = 0;
            if (!number("cut=", cut))
                return std::nullopt;
            rule.Action.Cut = cut;
        } else if (StartsWith(token, "pace=")) {
            if (!number("pace=", rule.Action.PaceMs))
                return std::nullopt;
        } else if (StartsWith(token, "lock=") && token.size() > 5) {
            rule.Action.LockPath = token.substr(5);
        } else if (StartsWith(token, "times=")) {
            unsigned times = 0;
            if (!number("times=", times))
                return std::nullopt;
            rule.Times = times;
        } else if (token == "drop" || token == "reset") {
            rule.Action.Drop = true;
            rule.Action.Reset = token == "reset";
            rule.DefaultReply = false;
        } else if (token == "stop") {
            rule.Action.Stop = true;
            rule.DefaultReply = false;
        } else if (token == "silent") {
            rule.DefaultReply = false;
        } else if (token == "failure") {
            rule.Action.Reply = true;
            rule.Action.Text = "Failure";
            rule.DefaultReply = false;
        } else if (StartsWith(token, "reply=")) {
            // The reply is the rest of the rule as written, blanks included.
            const size_t at = text.find("reply=", text.find(rule.Match) + rule.Match.size());
            rule.Action.Reply = true;
            rule.Action.Text = Unescape(text.substr(at + 6));
            rule.DefaultReply = false;
            break;
        } else {
            error = "unknown action " + token;
            return std::nullopt;
        }
    }
    return rule;
}

void Behaviour::AddRule(Rule rule) {
    std::lock_guard<std::mutex> lock(mMutex);
    mRules.push_back(std::move(rule));
}

void Behaviour::ClearRules() {
    std::lock_guard<std::mutex> lock(mMutex);
    mRules.clear();
}

void Behaviour::SetValue(const std::string &detector, const std::string &text) {
    std::lock_guard<std::mutex> lock(mMutex);
    mValues[detector] = text;
}

void Behaviour::SetIdentification(const std::string &text) {
    std::lock_guard<std::mutex> lock(mMutex);
    mIdentification = text;
}

void Behaviour::SetStrict(bool strict) {
    std::lock_guard<std::mutex> lock(mMutex);
    mStrict = strict;
}

void Behaviour::SetRequireEnable(bool require) {
    std::lock_guard<std::mutex> lock(mMutex);
    mRequireEnable = require;
}

Answer Behaviour::Respond(const std::string &line) {
    std::lock_guard<std::mutex> lock(mMutex);
    const LineKind kind = Classify(line);
    if (kind == LineKind::Command) {
        // CMD-<name>-ENABLE-YES|NO, CMD-<name>-ACTIVATE-YES|NO
        for (const char *verb : {"-ENABLE-", "-ACTIVATE-"}) {
            const size_t at = line.rfind(verb);
            if (at == std::string::npos || at < 4)
                continue;
            auto &state = mDetectorState[line.substr(4, at - 4)];
            const bool on = line.substr(at + std::string(verb).size()) == "YES";
            (verb[1] == 'E' ? state.first : state.second) = on;
            if (!on && verb[1] == 'E')
                state.second = false;
        }
    }
    for (auto rule = mRules.rbegin(); rule != mRules.rend(); ++rule) {
        if (!Matches(rule->Match, line) || (rule->Times && *rule->Times == 0))
            continue;
        if (rule->Times)
            --*rule->Times;
        if (!rule->DefaultReply)
            return rule->Action;
        Answer answer = DefaultAnswer(line, kind);
        answer.DelayMs = rule->Action.DelayMs;
        answer.Cut = rule->Action.Cut;
        answer.PaceMs = rule->Action.PaceMs;
        answer.LockPath = rule->Action.LockPath;
        return answer;
    }
    return DefaultAnswer(line, kind);
}

Answer Behaviour::DefaultAnswer(const std::string &line, LineKind kind) {
    Answer answer;
    if (kind == LineKind::Identification) {
        answer.Reply = true;
        answer.Text = mIdentification;
    } else if (kind == LineKind::Detector) {
        answer.Reply = true;
        answer.Text = DetectorValue(line);
    }
    return answer;
}

// A known detector answers its table value; another one a reading that drifts a little with each
// request around a level of its own, or "Failure" when the simulator is strict.
std::string Behaviour::DetectorValue(const std::string &name) {
    const uint64_t count = mRequests[name]++;
    if (mRequireEnable) {
        const auto state = mDetectorState.find(WithoutRequestPrefix(name));
        if (state == mDetectorState.end() || !state->second.first || !state->second.second)
            return "Failure";
    }
    const auto known = mValues.find(name);
    if (known != mValues.end())
        return known->second;
    if (mStrict || name.empty())
        return "Failure";
    uint32_t hash = 2166136261u;
    for (unsigned char c : name)
        hash = (hash ^ c) * 16777619u;
    const double level = 1.0 + (hash % 400) / 10.0;
    const double drift = 0.05 * static_cast<double>(static_cast<int>((count * 7) % 11) - 5);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", level + drift);
    return text;
}

} // namespace PecosSim
