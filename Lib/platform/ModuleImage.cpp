// The read-only segments of this module, found once through the loader's list of objects.
#include "platform/ModuleImage.h"

#include <link.h>

#include <cstdint>

namespace Platform {

namespace {

struct ReadOnlyRanges {
    static constexpr int Most = 8;
    uintptr_t Begin[Most] = {};
    uintptr_t End[Most] = {};
    int Count = 0;
};

// An address inside this module, to pick its entry in the loader's list.
const char Anchor = 0;

bool Contains(const dl_phdr_info &info, uintptr_t address) {
    for (int i = 0; i < info.dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = info.dlpi_phdr[i];
        const uintptr_t begin = info.dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && address >= begin && address - begin < segment.p_memsz)
            return true;
    }
    return false;
}

int CollectReadOnly(dl_phdr_info *info, size_t, void *data) {
    if (!Contains(*info, reinterpret_cast<uintptr_t>(&Anchor)))
        return 0;
    auto &ranges = *static_cast<ReadOnlyRanges *>(data);
    for (int i = 0; i < info->dlpi_phnum && ranges.Count < ReadOnlyRanges::Most; ++i) {
        const ElfW(Phdr) &segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0)
            continue;
        ranges.Begin[ranges.Count] = info->dlpi_addr + segment.p_vaddr;
        ranges.End[ranges.Count] = ranges.Begin[ranges.Count] + segment.p_memsz;
        ++ranges.Count;
    }
    // Read-only segments in a row (headers, code, constants) become one range when no writable
    // segment lies between them: one comparison per address instead of one per segment.
    for (int i = 0; i + 1 < ranges.Count;) {
        bool writableBetween = false;
        for (int k = 0; k < info->dlpi_phnum; ++k) {
            const ElfW(Phdr) &segment = info->dlpi_phdr[k];
            const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
            if (segment.p_type == PT_LOAD && (segment.p_flags & PF_W) != 0 && begin < ranges.Begin[i + 1] &&
                begin + segment.p_memsz > ranges.End[i])
                writableBetween = true;
        }
        if (writableBetween || ranges.Begin[i + 1] < ranges.End[i]) {
            ++i;
            continue;
        }
        ranges.End[i] = ranges.End[i + 1];
        for (int k = i + 1; k + 1 < ranges.Count; ++k) {
            ranges.Begin[k] = ranges.Begin[k + 1];
            ranges.End[k] = ranges.End[k + 1];
        }
        --ranges.Count;
    }
    return 1;
}

ReadOnlyRanges Collect() {
    ReadOnlyRanges found;
    dl_iterate_phdr(CollectReadOnly, &found);
    return found;
}

// Found while the module is loaded, before any call into it. Code of other static objects that
// runs earlier sees no ranges (zero-initialised) and takes nothing as read-only.
const ReadOnlyRanges Ranges = Collect();

} // namespace

bool IsReadOnlyInThisModule(const void *address) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    const ReadOnlyRanges &ranges = Ranges;
    for (int i = 0; i < ranges.Count; ++i) {
        if (at >= ranges.Begin[i] && at < ranges.End[i])
            return true;
    }
    return false;
}

bool AreReadOnlyInThisModule(const void *first, const void *second) {
    const ReadOnlyRanges &ranges = Ranges;
    if (ranges.Count == 1) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(first);
        const uintptr_t b = reinterpret_cast<uintptr_t>(second);
        return a >= ranges.Begin[0] && a < ranges.End[0] && b >= ranges.Begin[0] && b < ranges.End[0];
    }
    return IsReadOnlyInThisModule(first) && IsReadOnlyInThisModule(second);
}

} // namespace Platform
