// A stream kind "SCRIPTED" for the tests of the stream framework: it follows the connect and
// disconnect contracts, counts its opens and closes, records every call and answers each Read
// from a script of (text, code) pairs; an empty script answers with a read time-out.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "streams/DeviceStreamConfiguration.h"
#include "StandInClient.h"

inline constexpr const char *ScriptedKind = "SCRIPTED";

class ScriptedConfiguration : public DeviceStreamConfiguration {
public:
    explicit ScriptedConfiguration(std::string name = "one")
        : DeviceStreamConfiguration(ScriptedKind), Name(name) {}
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override {
        const int order = Compare(other.get());
        if (order != 0)
            return order < 0;
        auto *scripted = dynamic_cast<ScriptedConfiguration *>(other.get());
        return scripted != nullptr && Name < scripted->Name;
    }
    std::string GetIdentifier() override { return "SCRIPTED:" + Name; }
    bool IsValid() override { return true; }
    std::string Name;
};

class ScriptedStream : public WriteReadDeviceStream {
public:
    DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                  DeviceStreamClient *clientEntry) override {
        const DWORD result = VerifyCorrectConfigurationObject(configuration, ScriptedKind);
        if (result == 0 && configuration)
            SetLockName(configuration->GetIdentifier());
        if (result == 0 && IsFirstClient(hWnd, clientEntry)) {
            ++Opens;
            mbConnected = true;
        }
        if (result == 0 && IsConnected())
            RegisterClient(hWnd, clientEntry);
        return result;
    }
    DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) override {
        if (UnregisterClient(hWnd, clientEntry)) {
            ++Closes;
            mbConnected = false;
        }
        return 0;
    }
    DWORD ClearInputBuffers(HostWindow) override {
        Calls.push_back("clear");
        return 0;
    }
    DWORD Write(HostWindow, const std::string &sCommand, bool) override {
        Calls.push_back("write " + sCommand);
        return WriteResult;
    }
    DWORD Read(HostWindow, std::string &sResponse, DWORD dwCount) override {
        Calls.push_back("read " + std::to_string(dwCount));
        sResponse.clear();
        if (Reads.empty())
            return StreamResult::ReadTimeout;
        auto [text, code] = Reads.front();
        Reads.pop_front();
        sResponse = text;
        return code;
    }

    int Opens = 0;
    int Closes = 0;
    DWORD WriteResult = 0;
    std::deque<std::pair<std::string, DWORD>> Reads;
    std::vector<std::string> Calls;
};

// Distinct client entries.
inline DeviceStreamClient *ClientEntry(int n) {
    static char entries[8];
    return StandInClient(&entries[n]);
}
