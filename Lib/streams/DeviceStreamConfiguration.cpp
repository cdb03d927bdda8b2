// Configurations' base, the kind registries and the shared-stream map.
#include "streams/DeviceStreamConfiguration.h"

#include "core/NeverDestroyed.h"

#include <algorithm>
#include <utility>

#include "core/DLLMain.h"

DeviceStreamConfiguration::DeviceStreamConfiguration(const std::string &sTypeKey) : msTypeKey(sTypeKey) {}

DeviceStreamConfiguration::~DeviceStreamConfiguration() = default;

DWORD DeviceStreamConfiguration::LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}

DWORD DeviceStreamConfiguration::SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &) {
    return 0;
}

DWORD DeviceStreamConfiguration::ShowConfigurationDialog(HostWindow, const std::wstring &) {
    return ResultCode::OperationNotProvided;
}

DWORD DeviceStreamConfiguration::AddConfigurationDialogPanels(HostWindow, PanelResourceNameList &) {
    return 0;
}

std::string DeviceStreamConfiguration::GetErrorText(DWORD) {
    return std::string();
}

std::shared_ptr<DeviceStreamConfiguration> DeviceStreamConfiguration::Copy() const {
    return nullptr;
}

bool DeviceStreamConfiguration::HasSameSettings(const DeviceStreamConfiguration &) const {
    return false;
}

int DeviceStreamConfiguration::Compare(const DeviceStreamConfiguration *other) const {
    if (other == nullptr)
        return 1;
    const int order = msTypeKey.compare(other->msTypeKey);
    return order < 0 ? -1 : (order == 0 ? 0 : 1);
}

bool ConfigurationLess(const std::shared_ptr<DeviceStreamConfiguration> &first,
                       const std::shared_ptr<DeviceStreamConfiguration> &second) {
    if (!first)
        return true;
    return first->LessThan(second);
}

// ---- Kind registries ------------------------------------------------------------------------------

// Never destroyed: a call on another thread may create a stream while the process exits. An
// unload empties them.
StreamKindRegistry<DeviceStreamCreator> &DeviceStreamRegistry::Get() {
    static NeverDestroyed<StreamKindRegistry<DeviceStreamCreator>> registry;
    return registry.Get();
}

StreamKindRegistry<DeviceStreamConfigurationCreator> &DeviceStreamConfigurationRegistry::Get() {
    static NeverDestroyed<StreamKindRegistry<DeviceStreamConfigurationCreator>> registry;
    return registry.Get();
}

namespace {
void ClearRegistriesAtUnload() {
    if (DLLProcessIsEnding())
        return;
    DeviceStreamRegistry::Get().Clear();
    DeviceStreamConfigurationRegistry::Get().Clear();
}
const bool gClearRegistriesAtDetach = (AddProcessDetachStep(&ClearRegistriesAtUnload), true);
} // namespace

StreamTypeRegistrar::StreamTypeRegistrar(const std::string &sKindId, DeviceStreamCreator creator)
    : mbRegistered(DeviceStreamRegistry::Get().Register(sKindId, creator)) {}

StreamTypeRegistrar::StreamTypeRegistrar(const std::string &sKindId, DeviceStreamConfigurationCreator creator)
    : mbRegistered(DeviceStreamConfigurationRegistry::Get().Register(sKindId, creator)) {}

WriteReadDeviceStream *CreateStream(const std::string &sKindId) {
    const DeviceStreamCreator creator = DeviceStreamRegistry::Get().Find(sKindId);
    return creator == nullptr ? nullptr : creator();
}

DeviceStreamConfiguration *CreateConfiguration(const std::string &sKindId) {
    const DeviceStreamConfigurationCreator creator = DeviceStreamConfigurationRegistry::Get().Find(sKindId);
    return creator == nullptr ? nullptr : creator();
}

std::shared_ptr<WriteReadDeviceStream>
CreateStreamForConfiguration(const std::shared_ptr<DeviceStreamConfiguration> &configuration) {
    if (!configuration)
        return nullptr;
    return std::shared_ptr<WriteReadDeviceStream>(CreateStream(configuration->GetIDString()));
}

std::shared_ptr<DeviceStreamConfiguration> CreateConfigurationOfKind(const std::string &sKindId) {
    return std::shared_ptr<DeviceStreamConfiguration>(CreateConfiguration(sKindId));
}

std::vector<std::string> GetRegisteredKinds() {
    return DeviceStreamConfigurationRegistry::Get().GetKinds();
}

// ---- Shared-stream map ----------------------------------------------------------------------------

namespace {

using SharedEntry =
    std::pair<std::shared_ptr<DeviceStreamConfiguration>, std::shared_ptr<WriteReadDeviceStream>>;

struct SharedStreamTable {
    std::mutex Lock;
    std::vector<SharedEntry> Entries;
    // Streams that left the table; released at the next table call, outside the lock, so that a
    // stream that drops its own entry inside its Disconnect is not destroyed under its own feet.
    std::vector<std::shared_ptr<WriteReadDeviceStream>> Retired;
};

// Never destroyed: the plug-in's detach empties it, and at process exit that runs after the
// static destructors.
SharedStreamTable &Table() {
    static NeverDestroyed<SharedStreamTable> table;
    return table.Get();
}

bool Equivalent(const std::shared_ptr<DeviceStreamConfiguration> &first,
                const std::shared_ptr<DeviceStreamConfiguration> &second) {
    return !ConfigurationLess(first, second) && !ConfigurationLess(second, first);
}

std::vector<SharedEntry>::iterator
FindEquivalent(std::vector<SharedEntry> &entries,
               const std::shared_ptr<DeviceStreamConfiguration> &configuration) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const SharedEntry &entry) { return Equivalent(entry.first, configuration); });
}

// Takes the retired streams out of the table, to be released by the caller after unlocking.
std::vector<std::shared_ptr<WriteReadDeviceStream>> TakeRetired(SharedStreamTable &table) {
    std::vector<std::shared_ptr<WriteReadDeviceStream>> retired;
    retired.swap(table.Retired);
    return retired;
}

// The map is emptied before the plug-in ends wx and its socket layer.
const bool gClearAtDetach = (AddProcessDetachStep(&SharedDeviceStreams::Clear), true);

} // namespace

std::shared_ptr<WriteReadDeviceStream> SharedDeviceStreams::GetStreamForConfiguration(
    const std::shared_ptr<DeviceStreamConfiguration> &configuration, bool bShare, bool *pbCreated) {
    bool bCreated = false;
    std::shared_ptr<WriteReadDeviceStream> stream;
    std::vector<std::shared_ptr<WriteReadDeviceStream>> retired;
    if (!bShare) {
        stream = CreateStreamForConfiguration(configuration);
        bCreated = static_cast<bool>(stream);
    } else {
        SharedStreamTable &table = Table();
        std::lock_guard<std::mutex> guard(table.Lock);
        retired = TakeRetired(table);
        const auto found = FindEquivalent(table.Entries, configuration);
        if (found != table.Entries.end()) {
            stream = found->second;
        } else {
            stream = CreateStreamForConfiguration(configuration);
            bCreated = static_cast<bool>(stream);
            if (stream)
                table.Entries.emplace_back(configuration, stream);
        }
    }
    if (pbCreated != nullptr)
        *pbCreated = bCreated;
    return stream;
}

std::shared_ptr<WriteReadDeviceStream>
SharedDeviceStreams::Find(const std::shared_ptr<DeviceStreamConfiguration> &configuration) {
    SharedStreamTable &table = Table();
    std::vector<std::shared_ptr<WriteReadDeviceStream>> retired;
    std::lock_guard<std::mutex> guard(table.Lock);
    retired = TakeRetired(table);
    const auto found = FindEquivalent(table.Entries, configuration);
    return found == table.Entries.end() ? nullptr : found->second;
}

void SharedDeviceStreams::EraseStream(const DeviceStreamSeparatedReadWrite *stream) {
    SharedStreamTable &table = Table();
    std::lock_guard<std::mutex> guard(table.Lock);
    for (auto entry = table.Entries.begin(); entry != table.Entries.end();) {
        if (entry->second.get() == stream) {
            table.Retired.push_back(std::move(entry->second));
            entry = table.Entries.erase(entry);
        } else {
            ++entry;
        }
    }
}

size_t SharedDeviceStreams::Size() {
    SharedStreamTable &table = Table();
    std::vector<std::shared_ptr<WriteReadDeviceStream>> retired;
    std::lock_guard<std::mutex> guard(table.Lock);
    retired = TakeRetired(table);
    return table.Entries.size();
}

void SharedDeviceStreams::Clear() {
    SharedStreamTable &table = Table();
    std::vector<SharedEntry> entries;
    std::vector<std::shared_ptr<WriteReadDeviceStream>> retired;
    {
        std::lock_guard<std::mutex> guard(table.Lock);
        entries.swap(table.Entries);
        retired = TakeRetired(table);
    }
}
