// Stand-in of the language-resource library "TovikLang.dll": the six entry points over a small
// built-in table of English texts. A resource's texts are only given while it is loaded.
#include "core/TovikLangApi.h"
#include "TovikLangStandIn.h"

#include <cstring>

namespace {

struct TextEntry {
    uint32_t Resource;
    uint32_t Number;
    const char *Text;
};

// Values without a text here (Parity 4, most baud rates) make the caller fall back to its own name.
const TextEntry Texts[] = {
    {573, 1, "board %1, address %2"},
    {573, 2, "board %1, address %2, secondary address %3"},
    {573, 0x30000005, "%1: A value that the call needs was not given."},
    {573, 0x3000019A, "%1: The device did not request service in time."},
    {573, 0x300001F5, "%1: The GPIB board could not be found."},
    {573, 0x300001F7, "%1: Unknown GPIB error."},
    {573, 0x30000208, "%1: GPIB system error."},
    {573, 0x30000209, "%1: The GPIB board is not controller-in-charge."},
    {573, 0x3000020A, "%1: No listener on the GPIB bus."},
    {573, 0x3000020B, "%1: The GPIB board is not addressed correctly."},
    {573, 0x3000020C, "%1: Invalid argument to a GPIB call."},
    {573, 0x3000020D, "%1: The GPIB board is not system controller."},
    {573, 0x3000020E, "%1: GPIB time-out: the device did not answer in time."},
    {573, 0x3000020F, "%1: The GPIB board does not exist."},
    {573, 0x30000210, "%1: GPIB DMA error."},
    {573, 0x30000211, "%1: A GPIB transfer is already in progress."},
    {573, 0x30000212, "%1: The GPIB board lacks the capability."},
    {573, 0x30000213, "%1: GPIB file system error."},
    {573, 0x30000214, "%1: GPIB bus error while sending command bytes."},
    {573, 0x30000215, "%1: Serial poll status bytes were lost."},
    {573, 0x30000216, "%1: The SRQ line is stuck on."},
    {573, 0x30000217, "%1: GPIB table problem."},
    {573, 0x3000022E, "%1: GPIB-32.DLL could not be loaded. Is a GPIB library installed?"},
    {573, 0x3000022F, "%1: The GPIB board number must be 0 to 3."},
    {573, 0x30000230, "%1: The GPIB device is locked by another user."},
    {573, 0x30000231, "%1: GPIB notification could not be armed."},
    {573, 0x30000232, "%1: Invalid GPIB handle."},
    {573, 0x30000233, "%1: A GPIB wait is already in progress."},
    {573, 0x30000234, "%1: A GPIB notification was cancelled by a reset."},
    {573, 0x30000235, "%1: The device address is the GPIB board's own address."},
    {573, 0x30000236, "%1: The GPIB interface lost power."},
    {573, 0x30000237, "%1: The installed NI-488.2M library is far too old."},
    {573, 0x30000238, "%1: The device reported a query error."},
    {573, 0x3000023A, "%1: The installed NI-488.2M library is too old: version 15 or later is needed."},
    {573, 0x3000023B, "%1: The GPIB interface is not available."},
    {573, 0x3000023C, "%1: The GPIB interface is in use by another driver."},
    {573, 0x3000023D, "%1: The GPIB driver ran out of memory."},
    {573, 0x3000023E, "%1: The GPIB interface was removed."},
    {573, 0x3000023F, "%1: The GPIB driver is not installed correctly."},
    {573, 0x30000240, "%1: The GPIB interface is not configured."},
    {573, 0x30000241, "%1: The GPIB driver denied access."},
    {573, 0x30000246, "%1: GPIBSRQ.DLL could not be loaded."},
    {573, 0x30000247, "%1: GPIBSRQ.DLL lacks an entry point that is needed."},
    {587, 0, "No parity"},
    {587, 1, "Odd parity"},
    {587, 2, "Even parity"},
    {587, 3, "Mark parity"},
    {588, 5, "5 data bits"},
    {588, 6, "6 data bits"},
    {588, 7, "7 data bits"},
    {588, 8, "8 data bits"},
    {589, 0, "1 stop bit"},
    {589, 1, "1.5 stop bits"},
    {589, 2, "2 stop bits"},
    {590, 9600, "9600 Bd"},
    {590, 19200, "19200 Bd"},
    {598, 0, "No EOS handling"},
    {598, 1, "Terminate read on EOS"},
    {598, 2, "Send END with EOS"},
    {598, 4, "8-bit EOS compare"},
    {599, 0, "GPIB0"},
    {599, 1, "GPIB1"},
    {599, 2, "GPIB2"},
    {599, 3, "GPIB3"},
    {600, 0, "No termination"},
    {600, 1, "CR"},
    {600, 2, "LF"},
    {600, 3, "CR+LF"},
    {601, 1, "AC coupling"},
    {601, 2, "DC coupling"},
    {TovikLangStandIn::ProbeResource, TovikLangStandIn::ProbeArguments, "Value %1 of %2, %10."},
    // RS-232 port access (base 574): the port text and the texts of the port codes.
    {574, 1, "COM%1"},
    {574, 0x3000012C, "%1 is not open."},
    {574, 0x3000012D, "Not all bytes could be written to %1."},
    {574, 0x3000012E, "%1 did not answer in time."},
    {574, 0x3000012F, "%1 does not exist."},
    {574, 0x30000130, "%1 is in use by another program or its settings differ."},
    {574, 0x30000137, "%1 has not been opened."},
};

struct ResourceLoad {
    uint32_t Resource;
    int32_t Count;
};
ResourceLoad Loads[32];

ResourceLoad *FindLoad(uint32_t resource, bool create) {
    for (ResourceLoad &load : Loads)
        if (load.Count != 0 && load.Resource == resource)
            return &load;
    if (!create)
        return nullptr;
    for (ResourceLoad &load : Loads)
        if (load.Count == 0) {
            load.Resource = resource;
            return &load;
        }
    return nullptr;
}

// Copies text into the buffer with "%1" to "%10" replaced by the arguments; returns the length.
uint32_t Expand(const char *text, const char *const arguments[10], char *buffer, uint32_t size) {
    uint32_t length = 0;
    auto put = [&](char c) {
        if (length + 1 < size)
            buffer[length++] = c;
    };
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
            int index = p[1] - '1';
            ++p;
            if (index == 0 && p[1] == '0') {
                index = 9;
                ++p;
            }
            for (const char *a = arguments[index] ? arguments[index] : ""; *a != '\0'; ++a)
                put(*a);
        } else {
            put(*p);
        }
    }
    buffer[length] = '\0';
    return length;
}

int32_t WriteRaw(char *buffer, uint32_t size, const char *bytes, uint32_t count, int32_t result) {
    if (count > size)
        count = size;
    std::memcpy(buffer, bytes, count);
    return result;
}

} // namespace

extern "C" {

int32_t setBaseLanguageDirectory(const char *) {
    return 0;
}

int32_t getAvailableLanguage(char *buffer, uint32_t bufferSize) {
    const char *const none[10] = {};
    return buffer != nullptr && bufferSize > 0 ? static_cast<int32_t>(Expand("en", none, buffer, bufferSize))
                                               : 0;
}

#ifndef TOVIKLANG_STANDIN_WITHOUT_GETFONT
int32_t getFont(uint32_t, char *buffer, uint32_t bufferSize) {
    const char *const none[10] = {};
    return buffer != nullptr && bufferSize > 0
               ? static_cast<int32_t>(Expand("Sans", none, buffer, bufferSize))
               : 0;
}
#endif

int32_t loadLanguageResource(uint32_t resourceNumber, uint32_t) {
    ResourceLoad *load = FindLoad(resourceNumber, true);
    if (load == nullptr)
        return -1;
    ++load->Count;
    return 0;
}

int32_t unloadLanguageResource(uint32_t resourceNumber) {
    ResourceLoad *load = FindLoad(resourceNumber, false);
    if (load == nullptr)
        return -1;
    --load->Count;
    return 0;
}

int32_t getText(uint32_t resourceNumber, uint32_t textNumber, char *buffer, uint32_t bufferSize,
                const char *argument1, const char *argument2, const char *argument3, const char *argument4,
                const char *argument5, const char *argument6, const char *argument7, const char *argument8,
                const char *argument9, const char *argument10) {
    if (buffer == nullptr || bufferSize == 0)
        return 0;
    buffer[0] = '\0';
    if (FindLoad(resourceNumber, false) == nullptr)
        return 0;
    if (resourceNumber == TovikLangStandIn::ProbeResource) {
        switch (textNumber) {
        case TovikLangStandIn::ProbeCountPastBuffer:
            return WriteRaw(buffer, bufferSize, "short", 6, static_cast<int32_t>(bufferSize) + 100);
        case TovikLangStandIn::ProbeCountPastNul:
            return WriteRaw(buffer, bufferSize, "abc\0def", 8, 7);
        case TovikLangStandIn::ProbeNegativeCount:
            return WriteRaw(buffer, bufferSize, "neg", 4, -5);
        case TovikLangStandIn::ProbeZeroCount:
            return WriteRaw(buffer, bufferSize, "ignored", 8, 0);
        default:
            break;
        }
    }
    const char *const arguments[10] = {argument1, argument2, argument3, argument4, argument5,
                                       argument6, argument7, argument8, argument9, argument10};
    for (const TextEntry &entry : Texts)
        if (entry.Resource == resourceNumber && entry.Number == textNumber)
            return static_cast<int32_t>(Expand(entry.Text, arguments, buffer, bufferSize));
    return 0;
}

int32_t toviklangStandInResourceLoads(uint32_t resourceNumber) {
    const ResourceLoad *load = FindLoad(resourceNumber, false);
    return load != nullptr ? load->Count : 0;
}

} // extern "C"
