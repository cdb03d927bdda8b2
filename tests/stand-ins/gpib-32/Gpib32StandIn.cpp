// Stand-in of the NI-488.2 library "GPIB-32.DLL": the bound entry points over simulated IEEE 488.2
// instruments on four boards. Reads end at the count, at END (the last byte of a response) or at
// the EOS character when the device reads with REOS; a read with nothing to send times out at once
// (EABO); an instrument told to talk sends a long output first. A new message drops output not
// yet read, with a query error (-410), unless the instrument is set to keep it, as older
// instruments do. Locks wait for their time and fail with ELCK. ibwait waits for an instrument's
// service request. An instrument set to hold its opens keeps an ibdev to it waiting while a
// request of it is pending or being served. Every call but ibwait is traced.
#include "gpib/Gpib32Api.h"
#include "Gpib32StandIn.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Instrument {
    int Board = 0, Pad = 0, Sad = 0;
    std::string Identification;
    std::map<std::string, std::string> Replies;
    std::deque<std::string> Output; // messages, END with the last byte of each
    std::string Input;              // the message being received
    std::string Received;           // every byte received
    std::deque<std::string> Errors;
    int Sre = 0, Ese = 0, Esr = 0;
    bool QueryError = false;
    bool KeepsOutput = false;
    bool RequestPending = false;
    int LastSummary = 0;
    int LockOwner = 0; // device handle, -1 for someone else, 0 for none
    int LockCount = 0;
    bool HoldOpen = false;
    bool Serving = false; // a serial poll took a request; its poller has not waited again yet
    std::chrono::steady_clock::time_point TalksUntil; // sends a long output until then
};

struct Board {
    bool Present = true;
    int Pad = 0;
    std::map<int, int> Config;
};

struct Device {
    int Board = 0, Pad = 0, Sad = 0;
    int Tmo = 13;
    bool Eot = true;
    bool ReadEos = false;
    bool EightBit = false;
    unsigned char EosChar = 0;
    std::map<int, int> Config;
};

struct Failure {
    std::string Function;
    int Iberr;
    long Ibcntl;
};

std::mutex gMutex;
std::condition_variable gChanged;
std::vector<Instrument> gInstruments;
Board gBoards[4];
std::map<int, Device> gDevices;
int gNextHandle = 16;
std::vector<std::string> gTrace;
std::vector<uint64_t> gWriteTimes;
std::vector<Failure> gFailures;

thread_local int tIbsta = 0;
thread_local int tIberr = 0;
thread_local long tIbcntl = 0;

int Status(int ibsta, int iberr = 0, long ibcntl = 0) {
    tIbsta = ibsta;
    tIberr = iberr;
    tIbcntl = ibcntl;
    return ibsta;
}

int Error(int iberr, long ibcntl = 0) {
    return Status(NI488::ERR | NI488::CMPL, iberr, ibcntl);
}

void Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Trace(const char *format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    gTrace.push_back(line);
}

bool TakeFailure(const char *function, int &result) {
    for (auto it = gFailures.begin(); it != gFailures.end(); ++it)
        if (it->Function == function) {
            result = Error(it->Iberr, it->Ibcntl);
            gFailures.erase(it);
            return true;
        }
    return false;
}

Instrument *FindInstrument(int board, int pad, int sad) {
    for (Instrument &instrument : gInstruments)
        if (instrument.Board == board && instrument.Pad == pad && instrument.Sad == sad)
            return &instrument;
    return nullptr;
}

Device *FindDevice(int ud) {
    auto it = gDevices.find(ud);
    return it == gDevices.end() ? nullptr : &it->second;
}

Instrument *InstrumentOf(const Device &device) {
    return FindInstrument(device.Board, device.Pad, device.Sad);
}

std::string Upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Trim(const std::string &text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

int StatusByte(const Instrument &instrument) {
    return (instrument.Errors.empty() ? 0 : 4) | (instrument.Output.empty() ? 0 : 16) |
           ((instrument.Esr & instrument.Ese) != 0 ? 32 : 0);
}

// A request is raised when the enabled summary gains a bit.
void UpdateRequest(Instrument &instrument) {
    const int summary = StatusByte(instrument) & instrument.Sre & ~0x40;
    if ((summary & ~instrument.LastSummary) != 0)
        instrument.RequestPending = true;
    instrument.LastSummary = summary;
    gChanged.notify_all();
}

void Reply(Instrument &instrument, const std::string &text) {
    instrument.Output.push_back(text + "\n");
}

void ProcessMessage(Instrument &instrument, const std::string &message) {
    size_t begin = 0;
    while (begin <= message.size()) {
        size_t end = message.find(';', begin);
        if (end == std::string::npos)
            end = message.size();
        const std::string unit = Trim(message.substr(begin, end - begin));
        begin = end + 1;
        if (unit.empty())
            continue;
        const std::string upper = Upper(unit);
        const std::string header = upper.substr(0, upper.find(' '));
        const std::string argument = Trim(unit.substr(header.size()));
        const bool query = !header.empty() && header.back() == '?';
        if (query && instrument.QueryError && header[0] != '*') {
            instrument.Esr |= 4;
            break;
        }
        if (header == "*IDN?")
            Reply(instrument, instrument.Identification);
        else if (header == "*CLS") {
            instrument.Esr = 0;
            instrument.Errors.clear();
        } else if (header == "*SRE")
            instrument.Sre = std::atoi(argument.c_str());
        else if (header == "*ESE")
            instrument.Ese = std::atoi(argument.c_str());
        else if (header == "*ESR?") {
            Reply(instrument, std::to_string(instrument.Esr));
            instrument.Esr = 0;
        } else if (header == "*STB?")
            Reply(instrument, std::to_string(StatusByte(instrument)));
        else if (header == "*OPC")
            instrument.Esr |= 1;
        else if (header == "*OPC?")
            Reply(instrument, "1");
        else if (header == "SYST:ERR?") {
            if (instrument.Errors.empty()) {
                Reply(instrument, "0,\"No error\"");
            } else {
                Reply(instrument, instrument.Errors.front());
                instrument.Errors.pop_front();
            }
        } else if (instrument.Replies.count(upper) != 0)
            Reply(instrument, instrument.Replies[upper]);
        else if (query) {
            instrument.Errors.push_back("-113,\"Undefined header\"");
            instrument.Esr |= 0x20;
        }
    }
    UpdateRequest(instrument);
}

} // namespace

extern "C" {

int ThreadIbsta(void) {
    return tIbsta;
}
int ThreadIberr(void) {
    return tIberr;
}
long ThreadIbcntl(void) {
    return tIbcntl;
}

int ibfindW(const wchar_t *name) {
    std::lock_guard<std::mutex> lock(gMutex);
    int board = -1;
    if (name != nullptr && name[0] == L'G' && name[1] == L'P' && name[2] == L'I' && name[3] == L'B' &&
        name[4] >= L'0' && name[4] <= L'3' && name[5] == L'\0')
        board = static_cast<int>(name[4] - L'0');
    Trace("ibfindW(GPIB%d)", board);
    if (board < 0 || !gBoards[board].Present) {
        Error(NI488::EDVR, 0);
        return -1;
    }
    Status(NI488::CMPL);
    return board;
}

// While another handle of the instrument watches it: until a serial poll took its pending request
// and the poller waits again, so that whatever the poller does with the request happens meanwhile.
void HoldOpen(std::unique_lock<std::mutex> &lock, int board, int pad, int sad) {
    const auto watched = [&] {
        for (const auto &entry : gDevices)
            if (entry.second.Board == board && entry.second.Pad == pad && entry.second.Sad == sad)
                return true;
        return false;
    };
    const auto held = [&] {
        const Instrument *instrument = FindInstrument(board, pad, sad);
        return instrument != nullptr && instrument->HoldOpen &&
               (instrument->RequestPending || instrument->Serving) && watched();
    };
    gChanged.wait_for(lock, std::chrono::seconds(10), [&] { return !held(); });
}

int ibdev(int boardIndex, int pad, int sad, int tmo, int eot, int eos) {
    std::unique_lock<std::mutex> lock(gMutex);
    Trace("ibdev(%d,%d,%d,%d,%d,0x%X)", boardIndex, pad, sad, tmo, eot, eos);
    int failed = 0;
    if (TakeFailure("ibdev", failed))
        return -1;
    HoldOpen(lock, boardIndex, pad, sad);
    if (boardIndex < 0 || boardIndex > 3 || !gBoards[boardIndex].Present || pad < 0 || pad > 30 ||
        (sad != 0 && (sad < 96 || sad > 126)) || tmo < 0 || tmo > 17) {
        Error(NI488::EARG);
        return -1;
    }
    Device device;
    device.Board = boardIndex;
    device.Pad = pad;
    device.Sad = sad;
    device.Tmo = tmo;
    device.Eot = eot != 0;
    device.ReadEos = (eos & NI488::REOS) != 0;
    device.EightBit = (eos & NI488::BIN) != 0;
    device.EosChar = static_cast<unsigned char>(eos & 0xFF);
    const int ud = gNextHandle++;
    gDevices[ud] = device;
    Status(NI488::CMPL);
    return ud;
}

int ibonl(int ud, int v) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibonl(%d,%d)", ud, v);
    int failed = 0;
    if (TakeFailure("ibonl", failed))
        return failed;
    if (ud >= 0 && ud <= 3)
        return Status(NI488::CMPL);
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    if (v == 0) {
        if (Instrument *instrument = InstrumentOf(*device))
            if (instrument->LockOwner == ud) {
                instrument->LockOwner = 0;
                instrument->LockCount = 0;
            }
        gDevices.erase(ud);
        gChanged.notify_all();
    }
    return Status(NI488::CMPL);
}

int ibloc(int ud) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibloc(%d)", ud);
    int failed = 0;
    if (TakeFailure("ibloc", failed))
        return failed;
    return FindDevice(ud) != nullptr ? Status(NI488::CMPL) : Error(NI488::EDVR, 0xE0140025);
}

int ibclr(int ud) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibclr(%d)", ud);
    int failed = 0;
    if (TakeFailure("ibclr", failed))
        return failed;
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    Instrument *instrument = InstrumentOf(*device);
    if (instrument == nullptr)
        return Error(NI488::ENOL);
    instrument->Output.clear();
    instrument->Input.clear();
    instrument->TalksUntil = {};
    UpdateRequest(*instrument);
    return Status(NI488::CMPL);
}

int ibwrt(int ud, const void *buffer, long count) {
    const auto began = std::chrono::steady_clock::now().time_since_epoch();
    std::lock_guard<std::mutex> lock(gMutex);
    gWriteTimes.push_back(
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(began).count()));
    const std::string data(static_cast<const char *>(buffer), static_cast<size_t>(std::max(count, 0L)));
    Trace("ibwrt(%d,\"%s\",%ld)", ud, data.c_str(), count);
    int failed = 0;
    if (TakeFailure("ibwrt", failed))
        return failed;
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    Instrument *instrument = InstrumentOf(*device);
    if (instrument == nullptr)
        return Error(NI488::ENOL);
    instrument->Received += data;
    if (!data.empty())
        instrument->TalksUntil = {};
    if (!data.empty() && instrument->Input.empty() && !instrument->Output.empty() &&
        !instrument->KeepsOutput) {
        // A new message while output waits: the output is dropped, the query interrupted.
        instrument->Output.clear();
        instrument->Errors.push_back("-410,\"Query INTERRUPTED\"");
        instrument->Esr |= 4;
        UpdateRequest(*instrument);
    }
    // A line feed or END ends a program message.
    for (char c : data) {
        if (c == '\n') {
            const std::string message = instrument->Input;
            instrument->Input.clear();
            ProcessMessage(*instrument, message);
        } else {
            instrument->Input += c;
        }
    }
    if (device->Eot && !instrument->Input.empty()) {
        const std::string message = instrument->Input;
        instrument->Input.clear();
        ProcessMessage(*instrument, message);
    }
    return Status(NI488::CMPL, 0, count);
}

int ibrd(int ud, void *buffer, long count) {
    std::unique_lock<std::mutex> lock(gMutex);
    Trace("ibrd(%d,%ld)", ud, count);
    int failed = 0;
    if (TakeFailure("ibrd", failed))
        return failed;
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    Instrument *instrument = InstrumentOf(*device);
    if (instrument == nullptr)
        return Error(NI488::ENOL);
    if (std::chrono::steady_clock::now() < instrument->TalksUntil) {
        // The bytes of a long output come at bus speed, none with END.
        std::memset(buffer, '#', static_cast<size_t>(std::max(count, 0L)));
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Status(NI488::CMPL, 0, std::max(count, 0L));
    }
    if (instrument->Output.empty())
        return Status(NI488::ERR | NI488::TIMO | NI488::CMPL, NI488::EABO, 0);
    std::string &message = instrument->Output.front();
    const unsigned char mask = device->EightBit ? 0xFF : 0x7F;
    long n = 0;
    bool end = false;
    char *out = static_cast<char *>(buffer);
    while (n < count && !message.empty()) {
        const char c = message.front();
        message.erase(0, 1);
        out[n++] = c;
        if (message.empty() ||
            (device->ReadEos && (static_cast<unsigned char>(c) & mask) == (device->EosChar & mask))) {
            end = true;
            break;
        }
    }
    if (message.empty())
        instrument->Output.pop_front();
    UpdateRequest(*instrument);
    return Status(NI488::CMPL | (end ? NI488::END : 0), 0, n);
}

int ibcmd(int ud, const void *buffer, long count) {
    std::lock_guard<std::mutex> lock(gMutex);
    std::string hex;
    for (long i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", static_cast<const unsigned char *>(buffer)[i]);
        hex += byte;
    }
    Trace("ibcmd(%d,%s)", ud, hex.c_str());
    int failed = 0;
    if (TakeFailure("ibcmd", failed))
        return failed;
    return Status(NI488::CMPL, 0, count);
}

int ibconfig(int ud, int option, int v) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibconfig(%d,%d,%d)", ud, option, v);
    int failed = 0;
    if (TakeFailure("ibconfig", failed))
        return failed;
    if (ud >= 0 && ud <= 3) {
        const int previous = gBoards[ud].Config[option];
        gBoards[ud].Config[option] = v;
        return Status(NI488::CMPL, previous);
    }
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    const int previous = device->Config[option];
    device->Config[option] = v;
    switch (option) {
    case NI488::IbcEOT:
        device->Eot = v != 0;
        break;
    case NI488::IbcEOSrd:
        device->ReadEos = v != 0;
        break;
    case NI488::IbcEOScmp:
        device->EightBit = v != 0;
        break;
    case NI488::IbcEOSchar:
        device->EosChar = static_cast<unsigned char>(v);
        break;
    default:
        break;
    }
    return Status(NI488::CMPL, previous);
}

int ibask(int ud, int option, int *v) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibask(%d,%d)", ud, option);
    int failed = 0;
    if (TakeFailure("ibask", failed))
        return failed;
    if (v == nullptr)
        return Error(NI488::EARG);
    if (ud >= 0 && ud <= 3)
        *v = option == NI488::IbcPAD ? gBoards[ud].Pad : gBoards[ud].Config[option];
    else if (Device *device = FindDevice(ud))
        *v = device->Config[option];
    else
        return Error(NI488::EDVR, 0xE0140025);
    return Status(NI488::CMPL);
}

int ibtmo(int ud, int v) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibtmo(%d,%d)", ud, v);
    int failed = 0;
    if (TakeFailure("ibtmo", failed))
        return failed;
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    if (v < 0 || v > 17)
        return Error(NI488::EARG);
    device->Tmo = v;
    return Status(NI488::CMPL);
}

int iblck(int ud, int v, unsigned int lockWaitTime, void *) {
    std::unique_lock<std::mutex> lock(gMutex);
    Trace("iblck(%d,%d,%u)", ud, v, lockWaitTime);
    int failed = 0;
    if (TakeFailure("iblck", failed))
        return failed;
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    const int board = device->Board, pad = device->Pad, sad = device->Sad;
    Instrument *instrument = FindInstrument(board, pad, sad);
    if (instrument == nullptr)
        return Error(NI488::ENOL);
    if (v == 0) {
        if (instrument->LockOwner != ud)
            return Error(NI488::ELCK);
        if (--instrument->LockCount == 0)
            instrument->LockOwner = 0;
        gChanged.notify_all();
        return Status(NI488::CMPL, 0, instrument->LockCount);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lockWaitTime);
    for (;;) {
        instrument = FindInstrument(board, pad, sad);
        if (instrument == nullptr)
            return Error(NI488::ENOL);
        if (instrument->LockOwner == 0 || instrument->LockOwner == ud)
            break;
        if (gChanged.wait_until(lock, deadline) == std::cv_status::timeout) {
            instrument = FindInstrument(board, pad, sad);
            if (instrument == nullptr || (instrument->LockOwner != 0 && instrument->LockOwner != ud))
                return Error(NI488::ELCK);
        }
    }
    instrument->LockOwner = ud;
    ++instrument->LockCount;
    return Status(NI488::CMPL, 0, instrument->LockCount);
}

int ibrsp(int ud, char *statusByte) {
    std::lock_guard<std::mutex> lock(gMutex);
    Trace("ibrsp(%d)", ud);
    int failed = 0;
    if (TakeFailure("ibrsp", failed))
        return failed;
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    Instrument *instrument = InstrumentOf(*device);
    if (instrument == nullptr)
        return Error(NI488::ENOL);
    if (statusByte != nullptr)
        *statusByte = static_cast<char>(StatusByte(*instrument) | (instrument->RequestPending ? 0x40 : 0));
    instrument->Serving = instrument->Serving || instrument->RequestPending;
    instrument->RequestPending = false;
    return Status(NI488::CMPL);
}

// Waits for the device's service request (RQS in the mask) until its time-out (TIMO in the mask);
// a request stays until ibrsp takes it. Not traced: a watch calls it all the time.
int ibwait(int ud, int mask) {
    std::unique_lock<std::mutex> lock(gMutex);
    int failed = 0;
    if (TakeFailure("ibwait", failed))
        return failed;
    if (ud >= 0 && ud <= 3)
        return Status(NI488::CMPL);
    Device *device = FindDevice(ud);
    if (device == nullptr)
        return Error(NI488::EDVR, 0xE0140025);
    if (Instrument *instrument = InstrumentOf(*device); instrument != nullptr && instrument->Serving) {
        instrument->Serving = false;
        gChanged.notify_all();
    }
    static const long timeOutMicroseconds[] = {0,       10,       30,       100,       300,       1000,
                                               3000,    10000,    30000,    100000,    300000,    1000000,
                                               3000000, 10000000, 30000000, 100000000, 300000000, 1000000000};
    const bool timed = (mask & NI488::TIMO) != 0 && device->Tmo > 0 && device->Tmo <= 17;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::microseconds(timed ? timeOutMicroseconds[device->Tmo] : 0);
    for (;;) {
        device = FindDevice(ud);
        if (device == nullptr)
            return Error(NI488::EDVR, 0xE0140025);
        const Instrument *instrument = InstrumentOf(*device);
        const int rqs = instrument != nullptr && instrument->RequestPending ? NI488::RQS : 0;
        if ((mask & NI488::RQS) == 0 || rqs != 0)
            return Status(NI488::CMPL | rqs);
        if (!timed)
            gChanged.wait(lock);
        else if (std::chrono::steady_clock::now() >= deadline)
            return Status(NI488::TIMO | NI488::CMPL);
        else
            gChanged.wait_until(lock, deadline);
    }
}

// Bound but never called by the plug-in.
int ibcac(int, int) {
    return Status(NI488::CMPL);
}
int ibsic(int) {
    return Status(NI488::CMPL);
}
int ibsre(int, int) {
    return Status(NI488::CMPL);
}
int ibpct(int) {
    return Status(NI488::CMPL);
}
int ibrsv(int, int) {
    return Status(NI488::CMPL);
}
int ibrsc(int, int) {
    return Status(NI488::CMPL);
}
int ibtrg(int) {
    return Status(NI488::CMPL);
}
int ibnotify(int, int, GpibNotifyCallback, void *) {
    return Status(NI488::CMPL);
}
#ifndef GPIB_STANDIN_WITHOUT_IBLINES
int iblines(int, short *lines) {
    if (lines != nullptr)
        *lines = 0;
    return Status(NI488::CMPL);
}
#endif

// ---- Control ----

void gpibStandInReset(void) {
    std::lock_guard<std::mutex> lock(gMutex);
    gInstruments.clear();
    for (Board &board : gBoards)
        board = Board();
    gDevices.clear();
    gNextHandle = 16;
    gTrace.clear();
    gWriteTimes.clear();
    gFailures.clear();
    gChanged.notify_all();
}

void gpibStandInSetBoard(int board, int present, int primaryAddress) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (board >= 0 && board <= 3) {
        gBoards[board].Present = present != 0;
        gBoards[board].Pad = primaryAddress;
    }
}

void gpibStandInAddInstrument(int board, int pad, int sad, const char *identification) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (FindInstrument(board, pad, sad) != nullptr)
        return;
    Instrument instrument;
    instrument.Board = board;
    instrument.Pad = pad;
    instrument.Sad = sad;
    instrument.Identification = identification != nullptr ? identification : "";
    gInstruments.push_back(instrument);
}

void gpibStandInSetReply(int board, int pad, int sad, const char *query, const char *reply) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad))
        instrument->Replies[Upper(query)] = reply;
}

void gpibStandInQueueOutput(int board, int pad, int sad, const char *bytes, long count) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad)) {
        instrument->Output.emplace_back(bytes, static_cast<size_t>(count));
        UpdateRequest(*instrument);
    }
}

void gpibStandInPushError(int board, int pad, int sad, const char *error) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad)) {
        instrument->Errors.push_back(error);
        UpdateRequest(*instrument);
    }
}

void gpibStandInSetQueryError(int board, int pad, int sad, int on) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad))
        instrument->QueryError = on != 0;
}

void gpibStandInKeepOutput(int board, int pad, int sad, int keep) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad))
        instrument->KeepsOutput = keep != 0;
}

void gpibStandInTalkFor(int board, int pad, int sad, long milliseconds) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad))
        instrument->TalksUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

void gpibStandInHoldLock(int board, int pad, int sad, int hold) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad)) {
        instrument->LockOwner = hold ? -1 : 0;
        instrument->LockCount = hold ? 1 : 0;
        gChanged.notify_all();
    }
}

void gpibStandInHoldOpen(int board, int pad, int sad, int hold) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Instrument *instrument = FindInstrument(board, pad, sad))
        instrument->HoldOpen = hold != 0;
}

void gpibStandInFailNext(const char *function, int iberr, long ibcntl) {
    std::lock_guard<std::mutex> lock(gMutex);
    gFailures.push_back(Failure{function, iberr, ibcntl});
}

long gpibStandInTrace(char *buffer, long size) {
    std::lock_guard<std::mutex> lock(gMutex);
    std::string text;
    for (const std::string &line : gTrace)
        text += line + "\n";
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<long>(text.size());
}

void gpibStandInClearTrace(void) {
    std::lock_guard<std::mutex> lock(gMutex);
    gTrace.clear();
}

long gpibStandInWriteTimes(uint64_t *times, long size) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (times != nullptr && size > 0)
        std::copy_n(gWriteTimes.begin(), std::min(gWriteTimes.size(), static_cast<size_t>(size)), times);
    return static_cast<long>(gWriteTimes.size());
}

long gpibStandInReceived(int board, int pad, int sad, char *buffer, long size) {
    std::lock_guard<std::mutex> lock(gMutex);
    const Instrument *instrument = FindInstrument(board, pad, sad);
    const std::string text = instrument != nullptr ? instrument->Received : std::string();
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<long>(text.size());
}

int gpibStandInOpenDevices(int board, int pad, int sad) {
    std::lock_guard<std::mutex> lock(gMutex);
    int count = 0;
    for (const auto &entry : gDevices)
        if (entry.second.Board == board && entry.second.Pad == pad && entry.second.Sad == sad)
            ++count;
    return count;
}

int gpibStandInPendingFailures(void) {
    std::lock_guard<std::mutex> lock(gMutex);
    return static_cast<int>(gFailures.size());
}

} // extern "C"
