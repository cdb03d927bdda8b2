// korvalis-host: loads the plug-in the way the Korvalis application does and calls its exports;
// korvalis-wxhost is the same host as a wx program. `korvalis-host --help` lists the commands.
//
// A script holds one command per line ('#' starts a comment, "..." quotes a word with blanks);
// "$ID" stands for the DeviceID that the last "create" returned. Every call prints one line on
// standard output, "<Export> result=0x<code> ...", which tests read; everything that goes wrong is
// said on standard error, with the script line it happened on.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VBObject/HostAutomationObject.h"
#include "common/CommandLine.h"
#include "plugin/PluginExports.h"

#ifdef KORVALIS_HOST_WITH_WX
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include "tools/host/DialogOperator.h"

const char *const CommandLine::Program = "korvalis-wxhost";
#else
const char *const CommandLine::Program = "korvalis-host";
#endif

namespace {

using CommandLine::Program;

// The host's automation objects: the EUT, test data with its standard test data, and the
// information items. The host keeps one reference to each for its whole run.
class StandInAutomationObject : public IHostAutomationObject {
public:
    explicit StandInAutomationObject(std::string name) : mName(std::move(name)) {}
    uint32_t AddRef() override {
        std::printf("automation %s AddRef count=%u\n", mName.c_str(), ++mCount);
        return mCount;
    }
    uint32_t Release() override {
        std::printf("automation %s Release count=%u\n", mName.c_str(), --mCount);
        return mCount;
    }
    IHostAutomationObject *GetPropertyObject(const char *name) override {
        for (auto &property : mProperties)
            if (name != nullptr && property.first == name) {
                property.second->AddRef();
                return property.second;
            }
        return nullptr;
    }
    void SetProperty(const std::string &name, StandInAutomationObject *object) {
        mProperties.emplace_back(name, object);
    }

private:
    std::string mName;
    uint32_t mCount = 1;
    std::vector<std::pair<std::string, StandInAutomationObject *>> mProperties;
};

IHostAutomationObject *HostAutomationObject(const std::string &kind) {
    static StandInAutomationObject eut("EUT");
    static StandInAutomationObject items("InformationItems");
    static StandInAutomationObject standard("StandardTestData");
    static StandInAutomationObject testData("TestData");
    static bool linked = false;
    if (!linked) {
        standard.SetProperty("InformationItems", &items);
        testData.SetProperty("StandardTestData", &standard);
        linked = true;
    }
    if (kind == "eut")
        return &eut;
    if (kind == "testdata")
        return &testData;
    if (kind == "items")
        return &items;
    return nullptr;
}

struct Exports {
#define PONTIS_FIELD(name, args) PFN_##name name = nullptr;
    PONTIS_EXPORT_LIST(PONTIS_FIELD)
#undef PONTIS_FIELD
};

class Host {
public:
    explicit Host(std::string plugin) : mPluginPath(std::move(plugin)) {}
    ~Host() = default;

    bool Load() {
        if (mHandle != nullptr)
            return true;
        mHandle = dlopen(mPluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (mHandle == nullptr) {
            std::fprintf(stderr, "%s: load failed: %s\n", CommandLine::MessagePrefix().c_str(), dlerror());
            return false;
        }
        bool complete = true;
#define PONTIS_BIND(name, args)                                                                              \
    mExports.name = reinterpret_cast<PFN_##name>(dlsym(mHandle, #name));                                     \
    if (mExports.name == nullptr) {                                                                          \
        std::fprintf(stderr, "%s: missing export %s\n", CommandLine::MessagePrefix().c_str(), #name);        \
        complete = false;                                                                                    \
    }
        PONTIS_EXPORT_LIST(PONTIS_BIND)
#undef PONTIS_BIND
        std::printf("loaded %s\n", mPluginPath.c_str());
        return complete;
    }

    bool Unload() {
        if (mHandle == nullptr)
            return true;
        int rc = dlclose(mHandle);
        mHandle = nullptr;
        mExports = Exports();
        std::printf("unloaded rc=%d\n", rc);
        return rc == 0;
    }

    bool IsLoaded() const {
        return mHandle != nullptr;
    }
    const Exports &Fn() const {
        return mExports;
    }
    void *Window = nullptr;
    uint32_t LastID = 0xFFFF;

private:
    std::string mPluginPath;
    void *mHandle = nullptr;
    Exports mExports;
};

// What a command comes to, as the exit status counts it: the worst of a run is its status.
constexpr int Ran = 0;
constexpr int Failed = 1;  // a call answered a result other than 0, or the plug-in did not (un)load
constexpr int Misused = 2; // an unknown command, or an argument it needs that is missing or unreadable

int PrintResult(const char *name, uint32_t result, const std::string &extra = std::string()) {
    std::printf("%s result=0x%08" PRIX32 "%s%s\n", name, result, extra.empty() ? "" : " ", extra.c_str());
    std::fflush(stdout);
    return result == 0 ? Ran : Failed;
}

// One argument of SetValue/GetValue and the storage it points to.
struct DataArg {
    uint32_t u32 = 0;
    double f64 = 0;
    float f32 = 0;
    std::string str;
    unsigned char raw[256] = {};
    IHostAutomationObject *object = nullptr;
    enum { None, U32, F64, F32, Str, Raw, Object } kind = Raw;

    // False, after a message, for a text of none of the forms in the usage.
    bool Parse(const std::string &text) {
        const std::string prefix = text.substr(0, 4);
        const std::string value = text.size() > 4 ? text.substr(4) : std::string();
        if (text == "null") {
            kind = None;
        } else if (prefix == "u32:") {
            kind = U32;
            return CommandLine::ReadNumber("u32 value", value, u32);
        } else if (prefix == "f64:") {
            kind = F64;
            return CommandLine::ReadNumber("f64 value", value, f64);
        } else if (prefix == "f32:") {
            kind = F32;
            return CommandLine::ReadNumber("f32 value", value, f32);
        } else if (prefix == "str:") {
            kind = Str;
            str = value;
        } else if (prefix == "obj:" && (object = HostAutomationObject(value)) != nullptr) {
            kind = Object;
        } else {
            std::fprintf(stderr, "%s: bad data argument '%s'\n", CommandLine::MessagePrefix().c_str(),
                         text.c_str());
            return false;
        }
        return true;
    }
    void *Pointer() {
        switch (kind) {
        case None:
            return nullptr;
        case U32:
            return &u32;
        case F64:
            return &f64;
        case F32:
            return &f32;
        case Str:
            return str.data();
        case Raw:
            return raw;
        case Object:
            return &object;
        }
        return nullptr;
    }
    std::string Describe(const char *label) const {
        char buf[160];
        switch (kind) {
        case None:
            std::snprintf(buf, sizeof buf, "%s=null", label);
            break;
        case U32:
            std::snprintf(buf, sizeof buf, "%s=%" PRIu32, label, u32);
            break;
        case F64:
            std::snprintf(buf, sizeof buf, "%s=%.9g", label, f64);
            break;
        case F32:
            std::snprintf(buf, sizeof buf, "%s=%.9g", label, static_cast<double>(f32));
            break;
        case Str:
            std::snprintf(buf, sizeof buf, "%s=\"%s\"", label, str.c_str());
            break;
        case Object:
            std::snprintf(buf, sizeof buf, "%s=object", label);
            break;
        case Raw: {
            uint32_t w;
            float f;
            double d;
            std::memcpy(&w, raw, sizeof w);
            std::memcpy(&f, raw, sizeof f);
            std::memcpy(&d, raw, sizeof d);
            std::snprintf(buf, sizeof buf, "%s.u32=%" PRIu32 " %s.f32=%.9g %s.f64=%.9g", label, w, label,
                          static_cast<double>(f), label, d);
            break;
        }
        }
        return buf;
    }
};

// A buffer size that the host really allocates: at most 64 MiB.
constexpr uint64_t LargestBufferSize = 64ull << 20;

std::string Quote(const char *text, uint32_t size) {
    return "\"" + std::string(text, text + size) + "\"";
}

int Run(Host &host, std::vector<std::string> args);

// The arguments of each command, as the help lists them: a command given fewer or more is a usage
// error before anything is loaded or called.
struct CommandForm {
    const char *Command;
    size_t Least, Most;
    const char *Arguments;
};
constexpr size_t Any = static_cast<size_t>(-1);
const CommandForm Forms[] = {
    {"load", 0, 0, ""},
    {"unload", 0, 0, ""},
    {"reload", 0, 0, ""},
    {"create", 1, 1, "KEY"},
    {"remove", 1, 1, "ID"},
    {"registered", 1, 1, "ID"},
    {"unregistered", 1, 1, "ID"},
    {"check", 1, 1, "ID"},
    {"init", 1, 1, "ID"},
    {"deinit", 1, 1, "ID"},
    {"configure", 1, 1, "ID"},
    {"load-config", 2, 2, "ID FILE"},
    {"save-config", 2, 2, "ID FILE"},
    {"set-value", 2, 4, "ID VALUEID [ARG1 [ARG2]]"},
    {"get-value", 2, 4, "ID VALUEID [ARG1 [ARG2]]"},
    {"get-value-string", 2, 4, "ID VALUEID [DATA1 [SIZE]]"},
    {"get-info", 2, 2, "ID INFO"},
    {"get-info-string", 2, 3, "ID INFO [SIZE]"},
    {"set-setting", 3, 3, "ID SETTING X"},
    {"get-driver-version", 1, 1, "ID"},
    {"get-error-string", 2, 3, "ID CODE [SIZE]"},
    {"all", 1, 1, "ID"},
    {"sleep", 1, 1, "MS"},
    {"echo", 0, Any, "TEXT"},
#ifdef KORVALIS_HOST_WITH_WX
    {"operator", 2, 3, "photograph FOLDER PREFIX | set CONTROL VALUE | answer ok|cancel"},
#endif
};

// Says the problem with the command's usage; gives the usage error's status.
int BadForm(const std::string &command, const std::string &problem) {
    for (const CommandForm &form : Forms)
        if (command == form.Command)
            std::fprintf(stderr, "%s: %s (usage: %s%s%s)\n", CommandLine::MessagePrefix().c_str(),
                         problem.c_str(), form.Command, *form.Arguments ? " " : "", form.Arguments);
    return Misused;
}

// False, after a message, for an unknown command or one with too few or too many arguments.
bool WellFormed(const std::vector<std::string> &args) {
    for (const CommandForm &form : Forms) {
        if (args[0] != form.Command)
            continue;
        const size_t given = args.size() - 1;
        if (given >= form.Least && given <= form.Most)
            return true;
        BadForm(form.Command, args[0] + (given < form.Least ? " lacks" : " has too many") + " arguments");
        return false;
    }
    std::fprintf(stderr, "%s: unknown command %s\n", CommandLine::MessagePrefix().c_str(), args[0].c_str());
    return false;
}

#ifdef KORVALIS_HOST_WITH_WX
DialogOperator *gOperator = nullptr;

// Whether a display is named for wx to open.
bool DisplayNamed() {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

int RunOperator(const std::vector<std::string> &args) {
    if (gOperator != nullptr && args.size() == 4 && args[1] == "photograph")
        gOperator->Photograph(args[2], args[3]);
    else if (gOperator != nullptr && args.size() == 4 && args[1] == "set")
        gOperator->Set(args[2], args[3]);
    else if (gOperator == nullptr || args.size() != 3 || args[1] != "answer" || !gOperator->Answer(args[2])) {
        return BadForm(args[0], "bad operator command");
    }
    return Ran;
}
#endif

int RunAll(Host &host, const std::string &id) {
    const char *calls[] = {"registered", "unregistered", "check", "init", "deinit", "configure"};
    int status = Ran;
    auto run = [&](std::vector<std::string> args) { status = std::max(status, Run(host, std::move(args))); };
    for (const char *c : calls)
        run({c, id});
    run({"load-config", id, "null"});
    run({"save-config", id, "null"});
    run({"set-value", id, "2"});
    run({"get-value", id, "54"});
    run({"get-value-string", id, "53"});
    run({"get-info", id, "1"});
    run({"get-info-string", id, "1"});
    run({"set-setting", id, "4003", "1"});
    run({"get-driver-version", id});
    run({"get-error-string", id, "0x300000D0"});
    run({"remove", id});
    return status;
}

int Run(Host &host, std::vector<std::string> args) {
    if (args.empty())
        return Ran;
    if (!WellFormed(args))
        return Misused;
    const std::string cmd = args[0];
    auto arg = [&](size_t i, const char *fallback = "") {
        return i < args.size() ? args[i] : std::string(fallback);
    };
    // Argument i as a number; a missing one is refused too.
    auto number = [&](size_t i, const char *what, auto &value) {
        if (i >= args.size()) {
            std::fprintf(stderr, "%s: %s needs the %s\n", CommandLine::MessagePrefix().c_str(), cmd.c_str(),
                         what);
            return false;
        }
        return CommandLine::ReadNumber(what, args[i], value);
    };
    // A buffer size that the host really allocates.
    auto bufferSize = [&](size_t i, uint32_t &size) {
        uint64_t value = 0;
        if (!CommandLine::ReadNumber("buffer size", arg(i, "256"), LargestBufferSize, value))
            return false;
        size = static_cast<uint32_t>(value);
        return true;
    };

    if (cmd == "load")
        return host.Load() ? Ran : Failed;
    if (cmd == "unload")
        return host.Unload() ? Ran : Failed;
    if (cmd == "reload")
        return host.Unload() && host.Load() ? Ran : Failed;
    if (cmd == "sleep") {
        uint32_t milliseconds = 0;
        if (!number(1, "milliseconds", milliseconds))
            return Misused;
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return Ran;
    }
#ifdef KORVALIS_HOST_WITH_WX
    if (cmd == "operator")
        return RunOperator(args);
#endif
    if (cmd == "echo") {
        std::string text;
        for (size_t i = 1; i < args.size(); ++i)
            text += (i > 1 ? " " : "") + args[i];
        std::printf("%s\n", text.c_str());
        return Ran;
    }
    if (!host.IsLoaded() && !host.Load())
        return Failed;
    const Exports &fn = host.Fn();
    void *w = host.Window;

    if (cmd == "create") {
        uint16_t id = 0x1234;
        uint32_t r = fn.CreateNewDeviceDriver(0, args[1].c_str(), &id);
        host.LastID = id;
        return PrintResult("CreateNewDeviceDriver", r, "DeviceID=" + std::to_string(id));
    }
    if (cmd == "all")
        return RunAll(host, args[1]);
    uint32_t id = host.LastID;
    if (arg(1) != "$ID" && !number(1, "DeviceID", id))
        return Misused;

    struct Simple {
        const char *command;
        const char *name;
        PFN_CheckDevice fn;
    };
    const Simple simple[] = {{"remove", "RemoveDeviceDriver", fn.RemoveDeviceDriver},
                             {"registered", "Registered", fn.Registered},
                             {"unregistered", "UnRegistered", fn.UnRegistered},
                             {"check", "CheckDevice", fn.CheckDevice},
                             {"init", "InitDevice", fn.InitDevice},
                             {"deinit", "DeInitDevice", fn.DeInitDevice},
                             {"configure", "ShowConfigurationDialog", fn.ShowConfigurationDialog}};
    for (const auto &s : simple) {
        if (cmd == s.command) {
#ifdef KORVALIS_HOST_WITH_WX
            if (gOperator != nullptr)
                gOperator->Arm();
#endif
            const uint32_t r = s.fn(w, id);
            int status = PrintResult(s.name, r);
#ifdef KORVALIS_HOST_WITH_WX
            // A value the operator could not set at the dialog fails the run.
            if (gOperator != nullptr && !gOperator->Finish())
                status = Failed;
#endif
            return status;
        }
    }
    if (cmd == "load-config" || cmd == "save-config") {
        std::string file = args[2];
        const char *p = file == "null" ? nullptr : file.c_str();
        bool load = cmd == "load-config";
        uint32_t r = load ? fn.LoadConfiguration(w, id, p) : fn.SaveConfiguration(w, id, p);
        return PrintResult(load ? "LoadConfiguration" : "SaveConfiguration", r);
    }
    if (cmd == "set-value" || cmd == "get-value") {
        uint32_t valueId = 0;
        DataArg d1, d2;
        if (!number(2, "value id", valueId) || (args.size() > 3 && !d1.Parse(args[3])) ||
            (args.size() > 4 && !d2.Parse(args[4])))
            return Misused;
        bool set = cmd == "set-value";
        uint32_t r = set ? fn.SetValue(w, id, valueId, d1.Pointer(), d2.Pointer())
                         : fn.GetValue(w, id, valueId, d1.Pointer(), d2.Pointer());
        return PrintResult(set ? "SetValue" : "GetValue", r,
                           d1.Describe("data1") + " " + d2.Describe("data2"));
    }
    if (cmd == "get-value-string") {
        uint32_t valueId = 0;
        std::string data1 = arg(3, "null");
        uint32_t size = 0;
        if (!number(2, "value id", valueId) || !bufferSize(4, size))
            return Misused;
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        uint32_t filled = 0;
        uint32_t r = fn.GetValueString(w, id, valueId, data1 == "null" ? nullptr : data1.c_str(),
                                       size ? buffer.data() : nullptr, size, &filled);
        return PrintResult("GetValueString", r,
                           "filled=" + std::to_string(filled) +
                               " text=" + Quote(buffer.data(), std::min(filled, size)));
    }
    if (cmd == "get-info") {
        uint32_t info = 0;
        if (!number(2, "information id", info))
            return Misused;
        double value = 0;
        uint32_t r = fn.GetInfo(w, id, info, &value);
        std::ostringstream v;
        v << "value=" << value;
        return PrintResult("GetInfo", r, v.str());
    }
    if (cmd == "get-info-string") {
        uint32_t info = 0;
        uint32_t size = 0;
        if (!number(2, "information id", info) || !bufferSize(3, size))
            return Misused;
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        uint32_t filled = 0;
        uint32_t r = fn.GetInfoString(w, id, info, size ? buffer.data() : nullptr, size, &filled);
        return PrintResult("GetInfoString", r,
                           "filled=" + std::to_string(filled) +
                               " text=" + Quote(buffer.data(), std::min(filled, size)));
    }
    if (cmd == "set-setting") {
        uint32_t setting = 0;
        double value = 0;
        if (!number(2, "setting id", setting) || !number(3, "setting value", value))
            return Misused;
        return PrintResult("SetSetting", fn.SetSetting(w, id, setting, value));
    }
    if (cmd == "get-driver-version") {
        char buffer[256] = {};
        uint32_t r = fn.GetDriverVersion(w, id, buffer);
        return PrintResult("GetDriverVersion", r,
                           "text=" + Quote(buffer, static_cast<uint32_t>(strnlen(buffer, 255))));
    }
    if (cmd == "get-error-string") {
        uint32_t code = 0;
        uint32_t size = 0;
        if (!number(2, "code", code) || !bufferSize(3, size))
            return Misused;
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        uint32_t read = 0;
        uint32_t r = fn.GetErrorString(w, id, code, size ? buffer.data() : nullptr, size, &read);
        return PrintResult("GetErrorString", r,
                           "read=" + std::to_string(read) +
                               " text=" + Quote(buffer.data(), std::min(read, size)));
    }
    std::fprintf(stderr, "%s: unknown command %s\n", CommandLine::MessagePrefix().c_str(), cmd.c_str());
    return Misused;
}

// The words of a script line, up to a word that starts with '#'. A part in double quotes belongs
// to its word as written, blanks and '#' included ("" is an empty word). False, after a message,
// for a quote that is not closed.
bool SplitWords(const std::string &line, std::vector<std::string> &words) {
    words.clear();
    size_t i = 0;
    for (;;) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i == line.size() || line[i] == '#')
            return true;
        std::string word;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            const size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                std::fprintf(stderr, "%s: a quote is not closed\n", CommandLine::MessagePrefix().c_str());
                return false;
            }
            word.append(line, i + 1, close - i - 1);
            i = close + 1;
        }
        words.push_back(std::move(word));
    }
}

// $KORVALIS_PLUGIN, else the plug-in of the build tree (../plugin beside the program), else the
// installed one (KORVALIS_INSTALLED_PLUGIN, relative to the program's folder).
std::string DefaultPluginPath(const char *argv0) {
    if (const char *env = std::getenv("KORVALIS_PLUGIN"); env != nullptr && *env != '\0')
        return env;
    // The program's own file: a program found on PATH has no folder in argv[0].
    std::string self = argv0;
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0)
        self.assign(exe, static_cast<size_t>(n));
    auto slash = self.rfind('/');
    std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
    const std::string built = dir + "/../plugin/PontisPecos.so";
    const std::string installed = dir + "/" KORVALIS_INSTALLED_PLUGIN;
    if (access(built.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0)
        return installed;
    return built;
}

std::string Synopsis() {
    const std::string name = Program;
    return "usage: " + name + " [--plugin PATH] [--hwnd window|none|0xHEX] COMMAND [ARGS...]\n       " +
           name + " [--plugin PATH] [--hwnd window|none|0xHEX] --script FILE|-\n       " + name + " --help\n";
}

// The whole usage, on standard output.
void PrintUsage() {
    std::printf("%s", Synopsis().c_str());
    std::printf(
        "Loads the plug-in (--plugin, else $KORVALIS_PLUGIN, else ../plugin/PontisPecos.so beside the\n"
        "program, else " KORVALIS_INSTALLED_PLUGIN " beside it, where an install puts it)\n"
        "as the Korvalis application does and calls its exports: one COMMAND, or one per line of\n"
        "FILE ('-': standard input; '#' starts a comment, \"...\" quotes a word with blanks, $ID is the\n"
        "DeviceID of the last create; an error names its line). Every call prints\n"
        "\"<Export> result=0x<code> ...\". --hwnd passes the window handle: none (null), a\n"
        "number, or (korvalis-wxhost only) window, a frame of its own.\n"
        "Commands:\n"
        "  load | unload | reload                       (re)load the plug-in in this process\n"
        "  create KEY                                   CreateNewDeviceDriver\n"
        "  remove|registered|unregistered|check|init|deinit|configure ID\n"
        "  load-config|save-config ID FILE              (FILE null passes a null pointer)\n"
        "  set-value|get-value ID VALUEID [ARG1 [ARG2]] ARG: u32:N f64:X f32:X str:TEXT null\n"
        "                                               obj:eut obj:testdata obj:items\n"
        "  get-value-string ID VALUEID [DATA1 [SIZE]]\n"
        "  get-info ID INFO\n"
        "  get-info-string ID INFO [SIZE]\n"
        "  set-setting ID SETTING X\n"
        "  get-driver-version ID\n"
        "  get-error-string ID CODE [SIZE]\n"
        "  all ID                                       every export once\n"
        "  sleep MS\n"
        "  echo TEXT\n"
        "korvalis-wxhost only, for the next call that opens a window (a person's part at it):\n"
        "  operator photograph FOLDER PREFIX            every tab as FOLDER/PREFIX-<n>-<title>.png\n"
        "  operator set CONTROL VALUE                   type VALUE into the control named CONTROL\n"
        "  operator answer ok|cancel                    then press that button (a message box: at once);\n"
        "                                               without it the window waits for a person\n"
        "Whole numbers are decimal or 0x hexadecimal, X a decimal number, SIZE at most %llu\n"
        "(256 when not given). obj: passes the address of a slot that holds one of the host's automation\n"
        "objects, as SetValue id 3 takes them; their AddRef and Release calls are printed.\n"
        "Exit status (a script runs to its end either way): 2 for a usage error, an unknown command or a\n"
        "missing, extra or unreadable argument of a command included (that command calls nothing); else\n"
        "1 when a call answered a result other than 0 (a warning code 0x3C000000 to 0x3FFFFFFF too), the\n"
        "plug-in did not load or unload, or the operator could not set a control, saw no window or had\n"
        "lines left that no call took up; else 0.\n"
        "korvalis-wxhost names wx's log messages (an XRC error) on standard error; they open no box.\n",
        static_cast<unsigned long long>(LargestBufferSize));
}

int UsageError(const std::string &problem) {
    return CommandLine::UsageError(problem, Synopsis());
}

} // namespace

int main(int argc, char **argv) {
    std::string plugin = DefaultPluginPath(argv[0]);
    std::string script;
    std::string hwnd = "none";
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        const bool valueFollows = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            PrintUsage();
            return 0;
        } else if (a == "--plugin" && valueFollows) {
            plugin = argv[++i];
        } else if (a == "--script" && valueFollows) {
            script = argv[++i];
        } else if (a == "--hwnd" && valueFollows) {
            hwnd = argv[++i];
        } else if (a == "--plugin" || a == "--script" || a == "--hwnd") {
            return UsageError(a + " needs a value");
        } else if (a.rfind("-", 0) == 0 && a != "-") {
            return UsageError("unknown option " + a);
        } else {
            break;
        }
    }
    if (script.empty() && i >= argc)
        return UsageError("no command and no script");
    uint64_t handle = 0;
    if (hwnd != "none" && hwnd != "window" && !CommandLine::ReadNumber("window handle", hwnd, handle))
        return 2;
#ifndef KORVALIS_HOST_WITH_WX
    if (hwnd == "window") {
        std::fprintf(stderr, "%s: --hwnd window needs korvalis-wxhost\n",
                     CommandLine::MessagePrefix().c_str());
        return 2;
    }
#endif

#ifdef KORVALIS_HOST_WITH_WX
    // A host that is itself a wx program: its application object exists before the plug-in loads.
    int wxArgc = 1;
    char *wxArgv[] = {argv[0], nullptr};
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "%s: wx could not start%s\n", CommandLine::MessagePrefix().c_str(),
                     DisplayNamed() ? "" : " (no display: neither DISPLAY nor WAYLAND_DISPLAY is set)");
        return 1;
    }
    wxTheApp->CallOnInit();
    DialogOperator dialogOperator;
    gOperator = &dialogOperator;
    wxFrame *frame = nullptr;
    if (hwnd == "window") {
        frame = new wxFrame(nullptr, wxID_ANY, "Korvalis");
        frame->Show();
    }
#endif

    Host host(plugin);
#ifdef KORVALIS_HOST_WITH_WX
    host.Window = frame;
#endif
    if (handle != 0)
        host.Window = reinterpret_cast<void *>(static_cast<uintptr_t>(handle));

    int status = Ran;
    if (!script.empty()) {
        std::ifstream file;
        std::istream *in = &std::cin;
        if (script != "-") {
            file.open(script);
            if (!file) {
                std::fprintf(stderr, "%s: cannot read %s\n", CommandLine::MessagePrefix().c_str(),
                             script.c_str());
                return 2;
            }
            in = &file;
        }
        std::string line;
        std::vector<std::string> words;
        for (unsigned number = 1; std::getline(*in, line); ++number) {
            CommandLine::SetScriptLine(number);
            status = std::max(status, SplitWords(line, words) ? Run(host, words) : Misused);
        }
        CommandLine::SetScriptLine(0);
    } else {
        status = Run(host, std::vector<std::string>(argv + i, argv + argc));
    }
    // The plug-in stays loaded when the script ends with it loaded: the process exits with it.
#ifdef KORVALIS_HOST_WITH_WX
    if (!dialogOperator.NothingLeft())
        status = std::max(status, Failed);
    if (frame != nullptr && !host.IsLoaded())
        frame->Destroy();
#endif
    return status;
}
