// What the stream benchmarks share for the whole run: wx with its socket layer and a private lock
// directory (named after the benchmark and the process), removed at the end.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <wx/init.h>
#include <wx/socket.h>
#include <wx/utils.h>

struct StreamBenchWorld {
    explicit StreamBenchWorld(const std::string &sName)
        : mLocks(std::filesystem::temp_directory_path() / (sName + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(mLocks);
        wxSetEnv("KORVALIS_LOCK_DIR", mLocks.string());
    }
    ~StreamBenchWorld() {
        std::error_code ignored;
        std::filesystem::remove_all(mLocks, ignored);
    }
    StreamBenchWorld(const StreamBenchWorld &) = delete;
    StreamBenchWorld &operator=(const StreamBenchWorld &) = delete;

    wxInitializer Wx;
    bool Sockets = wxSocketBase::Initialize();
    std::filesystem::path mLocks;
};
