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
    {599, 0, "Board 0"},
    {599, 1, "Board 1"},
    {599, 2, "Board 2"},
    {599, 3, "Board 3"},
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
