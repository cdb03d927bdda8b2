// quellin-collector: creates the call-log mailslot and prints every record that arrives
// (`quellin-collector --help` tells how).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "QuellinRecord.h"
#include "common/CommandLine.h"
#include "platform/Text.h"

const char *const CommandLine::Program = "quellin-collector";

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) {
    gStop = 1;
}

constexpr const char *Synopsis = "usage: quellin-collector [--slot NAME] [--raw] [--count N] [--timeout S]\n"
                                 "       quellin-collector --help\n";
// Seconds without a record that --timeout takes at most.
constexpr double LargestTimeout = 1e6;

void PrintUsage() {
    std::printf("%s", Synopsis);
    std::printf("Creates the call-log mailslot NAME (default QuellinSlot) in $KORVALIS_MAILSLOT_DIR and\n"
                "prints \"listening <path>\", then one line per record that arrives: its fields, or with\n"
                "--raw its text, control characters and NULs written as \\xNN. Ends after N records, after\n"
                "S seconds (a decimal number up to %g) without a record, or on SIGINT or SIGTERM.\n"
                "Exit status: 0, 1 when the mailslot cannot be made (another collector holding it is said\n"
                "so), 2 for a usage error, 3 when fewer than N records came.\n",
                LargestTimeout);
}

int UsageError(const std::string &problem) {
    return CommandLine::UsageError(problem, Synopsis);
}

} // namespace

int main(int argc, char **argv) {
    std::wstring slot = L"QuellinSlot";
    bool raw = false;
    long count = -1;
    double timeout = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const bool valueFollows = i + 1 < argc;
        uint32_t records = 0;
        if (a == "--help" || a == "-h") {
            PrintUsage();
            return 0;
        } else if (a == "--raw") {
            raw = true;
        } else if (a == "--slot" && valueFollows) {
            slot = Platform::Utf8ToWide(argv[++i]);
        } else if (a == "--count" && valueFollows) {
            if (!CommandLine::ReadNumber("count", argv[++i], records))
                return UsageError("");
            count = records;
        } else if (a == "--timeout" && valueFollows) {
            if (!CommandLine::ReadNumber("timeout", argv[++i], 0, LargestTimeout, timeout))
                return UsageError("");
        } else if (a == "--slot" || a == "--count" || a == "--timeout") {
            return UsageError(a + " needs a value");
        } else {
            return UsageError("unknown option " + a);
        }
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    errno = 0;
    Quellin::Collector collector(slot);
    if (!collector.IsOpen()) {
        const int error = errno;
        std::fprintf(stderr, "quellin-collector: cannot create %s%s\n", Platform::MailslotPath(slot).c_str(),
                     error == EADDRINUSE ? ": the mailslot is in use (another collector receives its records)"
                                         : "");
        return 1;
    }
    std::printf("listening %s\n", Platform::MailslotPath(slot).c_str());
    std::fflush(stdout);

    long received = 0;
    auto quietLimit = timeout < 0 ? std::chrono::milliseconds(-1)
                                  : std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
    auto lastRecord = std::chrono::steady_clock::now();
    while (!gStop && (count < 0 || received < count)) {
        auto record = collector.Next(std::chrono::milliseconds(100));
        if (!record) {
            if (quietLimit.count() >= 0 && std::chrono::steady_clock::now() - lastRecord >= quietLimit)
                break;
            continue;
        }
        lastRecord = std::chrono::steady_clock::now();
        ++received;
        std::string line = Platform::WideToUtf8(
            Quellin::EscapeControls(raw ? record->Raw : Quellin::DescribeRecord(*record)));
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    return (count >= 0 && received < count) ? 3 : 0;
}
