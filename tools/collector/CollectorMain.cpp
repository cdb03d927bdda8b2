// quellin-collector: creates the call-log mailslot and prints every record that arrives.
//   quellin-collector [--slot NAME] [--raw] [--count N] [--timeout S]
// Prints "listening <path>" first, then one line per record (fields, or the raw text with --raw),
// control characters and NULs written as \xNN.
// Ends after N records, after S seconds without a record, or on SIGINT/SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "QuellinRecord.h"
#include "platform/Text.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) {
    gStop = 1;
}

int Usage() {
    std::fprintf(stderr, "usage: quellin-collector [--slot NAME] [--raw] [--count N] [--timeout S]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::wstring slot = L"QuellinSlot";
    bool raw = false;
    long count = -1;
    double timeout = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--raw")
            raw = true;
        else if (a == "--slot" && i + 1 < argc)
            slot = Platform::Utf8ToWide(argv[++i]);
        else if (a == "--count" && i + 1 < argc)
            count = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--timeout" && i + 1 < argc)
            timeout = std::strtod(argv[++i], nullptr);
        else
            return Usage();
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    Quellin::Collector collector(slot);
    if (!collector.IsOpen()) {
        std::fprintf(stderr, "quellin-collector: cannot create %s\n", Platform::MailslotPath(slot).c_str());
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
