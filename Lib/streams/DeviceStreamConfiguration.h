// What a stream connects to, and the process-wide tables that turn a stream-kind id ("TCPIP",
// "VISA", ...) into objects.
//
// DeviceStreamConfiguration is the base of every kind's configuration; its type key is the kind id.
// Two registries map each kind id to a creator: one of configurations, one of streams. Each kind's
// source file fills both at static initialisation with two StreamTypeRegistrar objects:
//
//   static const StreamTypeRegistrar gStream("TCPIP", &CreateStreamOf<EthernetDeviceStream>);
//   static const StreamTypeRegistrar gConfig("TCPIP", &CreateConfigurationOf<EthernetDeviceStreamConfig>);
//
// The shared-stream map (SharedDeviceStreams) keeps the stream opened for a configuration, so that
// drivers with equal configurations (neither LessThan the other) use one stream. It has a lock of
// its own; a stream drops its own entry when its last client leaves.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <wx/string.h>

#include "platform/HostTypes.h"
#include "streams/WriteReadMixin.h"

class PanelResourceNameList;
class ProgramSettingsDatabase;

class DeviceStreamConfiguration {
public:
    explicit DeviceStreamConfiguration(const std::string &sTypeKey);
    virtual ~DeviceStreamConfiguration();

    // The kind's keys in its own table below the caller's current table; the base does nothing.
    virtual DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database);
    virtual DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database);
    // The kind's own dialog over the window; the base has none (OperationNotProvided).
    virtual DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle);
    // Adds the kind's page to the list; the base adds nothing.
    virtual DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels);
    // The kind's text of one of its own codes, known without a stream, so that a code has its
    // text whether or not a stream was ever made; empty for other codes. The base knows none.
    virtual std::string GetErrorText(DWORD dwCode);
    virtual bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) = 0;
    // Names the instrument connection; the stream's lock name is made from it.
    virtual std::string GetIdentifier() = 0;
    virtual bool IsValid() = 0;
    // An independent copy of the settings, for a connection that must outlive later changes to
    // them; empty for a kind that cannot be copied.
    virtual std::shared_ptr<DeviceStreamConfiguration> Copy() const;
    // True when the other configuration holds the same settings (and so names the same
    // connection); false also where that cannot be told without working out both identifiers.
    virtual bool HasSameSettings(const DeviceStreamConfiguration &other) const;

    const std::string &GetIDString() const { return msTypeKey; }
    // 1 when other is null; -1, 0 or 1 by the type keys otherwise.
    int Compare(const DeviceStreamConfiguration *other) const;

private:
    const std::string msTypeKey;
};

// The order of the shared-stream map: an empty configuration is less than any.
bool ConfigurationLess(const std::shared_ptr<DeviceStreamConfiguration> &first,
                       const std::shared_ptr<DeviceStreamConfiguration> &second);

// ---- Kind registries ------------------------------------------------------------------------------

using DeviceStreamCreator = WriteReadDeviceStream *(*)();
using DeviceStreamConfigurationCreator = DeviceStreamConfiguration *(*)();

template <typename S> WriteReadDeviceStream *CreateStreamOf() {
    return new S();
}
template <typename C> DeviceStreamConfiguration *CreateConfigurationOf() {
    return new C();
}

// A map from kind id to creator. Filled at static initialisation, read afterwards.
template <typename Creator> class StreamKindRegistry {
public:
    // False (and the first creator stays) when the id is present already.
    bool Register(const std::string &sKindId, Creator creator) {
        std::lock_guard<std::mutex> guard(mLock);
        return mCreators.emplace(sKindId, creator).second;
    }
    // Null when the id is unknown.
    Creator Find(const std::string &sKindId) const {
        std::lock_guard<std::mutex> guard(mLock);
        const auto found = mCreators.find(sKindId);
        return found == mCreators.end() ? nullptr : found->second;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(mLock);
        mCreators.clear();
    }
    // The ids in ascending byte order.
    std::vector<std::string> GetKinds() const {
        std::lock_guard<std::mutex> guard(mLock);
        std::vector<std::string> kinds;
        for (const auto &entry : mCreators)
            kinds.push_back(entry.first);
        return kinds;
    }

private:
    mutable std::mutex mLock;
    std::map<std::string, Creator> mCreators;
};

// Accessors of the two registries (each built on first use).
struct DeviceStreamRegistry {
    static StreamKindRegistry<DeviceStreamCreator> &Get();
};
struct DeviceStreamConfigurationRegistry {
    static StreamKindRegistry<DeviceStreamConfigurationCreator> &Get();
};

// The static object by which a kind enters one of its creators.
class StreamTypeRegistrar {
public:
    StreamTypeRegistrar(const std::string &sKindId, DeviceStreamCreator creator);
    StreamTypeRegistrar(const std::string &sKindId, DeviceStreamConfigurationCreator creator);
    bool IsRegistered() const { return mbRegistered; }

private:
    bool mbRegistered;
};

// A new object of the kind, owned by the caller; null for an unknown id.
WriteReadDeviceStream *CreateStream(const std::string &sKindId);
DeviceStreamConfiguration *CreateConfiguration(const std::string &sKindId);
// Empty for an empty configuration or a kind without a stream creator.
std::shared_ptr<WriteReadDeviceStream>
CreateStreamForConfiguration(const std::shared_ptr<DeviceStreamConfiguration> &configuration);
std::shared_ptr<DeviceStreamConfiguration> CreateConfigurationOfKind(const std::string &sKindId);
// The ids of the configuration registry in ascending byte order.
std::vector<std::string> GetRegisteredKinds();

// ---- Shared-stream map ----------------------------------------------------------------------------

// Entries are searched by equivalence (neither configuration LessThan the other) rather than kept
// sorted, so that a configuration the user edits after it was entered cannot break the table: it
// only stops matching. Every operation takes the map's lock; streams that leave the map are
// released after the lock is dropped.
class SharedDeviceStreams {
public:
    // With bShare: the stream of an equal configuration when there is one, else a new stream that
    // is entered under the configuration (one look-up under the lock). Without bShare: always a
    // new stream, never entered. Empty when the kind has no stream creator. pbCreated (when
    // given) tells whether the stream was made by this call.
    static std::shared_ptr<WriteReadDeviceStream>
    GetStreamForConfiguration(const std::shared_ptr<DeviceStreamConfiguration> &configuration, bool bShare,
                              bool *pbCreated = nullptr);
    // The stream of an equal configuration; empty when none.
    static std::shared_ptr<WriteReadDeviceStream>
    Find(const std::shared_ptr<DeviceStreamConfiguration> &configuration);
    // Drops the entries of this stream (and only those).
    static void EraseStream(const DeviceStreamSeparatedReadWrite *stream);
    static size_t Size();
    // Empties the map (process detach, before the socket layer ends).
    static void Clear();
};
