// What the PECOS simulator answers: the kinds of line it tells apart, the rules a test or the
// demo gives it, and the default answers (identification, detector values, no reply otherwise).
//
// A rule is one text:
//   MATCH [delay=MS] [times=N] [cut=N] [pace=MS] [lock=PATH] [drop | reset | stop | silent |
//         failure | reply=TEXT...]
//   MATCH    an exact line, a prefix ending in '*', '*' for every line, or a kind: @auth, @cmd,
//            @idn, @detector, @screen
//   delay    the answer (or the drop) comes MS milliseconds after the line arrived
//   times    the rule applies to the next N matching lines only
//   cut      only the first N bytes of the answer (line feed included) are sent, then the
//            connection closes
//   pace     the answer goes out one byte every MS milliseconds (later lines of the connection
//            wait for it)
//   lock     before the answer the simulator takes the file lock (flock) of PATH, as another
//            process holding a stream's lock file does, and keeps it until the control "unlock"
//   drop     the connection is closed (the peer reads its end); reset: it is reset, as a server
//            that ends with unread input resets it; stop: the server goes away, every connection
//            is closed and no new one accepted
//   reply    the rest of the rule is the answer; \n \r \t \\ are escapes
// Newer rules are tried first; a line that no rule matches gets the default answer.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace PecosSim {

enum class LineKind { Auth, Command, Identification, Detector, Screen };

LineKind Classify(const std::string &line);
std::string Escape(const std::string &text);
std::string Unescape(const std::string &text);

// What happens to one received line.
struct Answer {
    bool Reply = false;          // send Text followed by the reply termination
    std::string Text;            // the reply
    bool Drop = false;           // close the connection instead of answering
    bool Reset = false;          // and close it with a reset
    bool Stop = false;           // close every connection and accept none any more
    unsigned DelayMs = 0;        // when, counted from the line's arrival
    std::optional<unsigned> Cut; // send only this many bytes of the reply, then close
    unsigned PaceMs = 0;         // pause between the reply's bytes
    std::string LockPath;        // a file to lock before answering
};

struct Rule {
    std::string Match;
    std::optional<unsigned> Times; // none: always
    Answer Action;
    bool DefaultReply = true; // neither reply, failure, silent nor drop given: the default answer
};

// The largest number a rule takes (an hour in milliseconds).
constexpr unsigned long LargestRuleNumber = 3600000;

// Parses a rule text; an error text on failure.
std::optional<Rule> ParseRule(const std::string &text, std::string &error);

class Behaviour {
public:
    void AddRule(Rule rule);
    void ClearRules();
    void SetValue(const std::string &detector, const std::string &text);
    void SetIdentification(const std::string &text);
    void SetStrict(bool strict);         // unknown detectors answer "Failure"
    void SetRequireEnable(bool require); // detectors answer "Failure" until enabled and activated
    // The answer to one line; also follows the detectors' ENABLE and ACTIVATE state.
    Answer Respond(const std::string &line);

private:
    Answer DefaultAnswer(const std::string &line, LineKind kind);
    std::string DetectorValue(const std::string &name);

    std::mutex mMutex;
    std::vector<Rule> mRules; // oldest first
    std::map<std::string, std::string> mValues;
    std::map<std::string, uint64_t> mRequests;
    std::map<std::string, std::pair<bool, bool>> mDetectorState; // enabled, activated
    std::string mIdentification = "PECOS-8";
    bool mStrict = false;
    bool mRequireEnable = false;
};

} // namespace PecosSim
