// Entry points of the language-resource library "TovikLang.dll", bound at run time by name.
// The binding and the stand-in library both include this header, so the two cannot disagree.
#pragma once

#include <cstdint>

extern "C" {
// Bound but never called by the plug-in.
int32_t setBaseLanguageDirectory(const char *directory);
int32_t getAvailableLanguage(char *buffer, uint32_t bufferSize);
int32_t getFont(uint32_t resourceNumber, char *buffer, uint32_t bufferSize);

// Makes the texts of a resource available; the second argument is always 0.
int32_t loadLanguageResource(uint32_t resourceNumber, uint32_t flags);
int32_t unloadLanguageResource(uint32_t resourceNumber);
// Writes text textNumber of the resource into the buffer, the ten arguments filled in, and
// returns the number of characters written (0: no such text).
int32_t getText(uint32_t resourceNumber, uint32_t textNumber, char *buffer, uint32_t bufferSize,
                const char *argument1, const char *argument2, const char *argument3, const char *argument4,
                const char *argument5, const char *argument6, const char *argument7, const char *argument8,
                const char *argument9, const char *argument10);
}

namespace TovikLangApi {

using SetBaseLanguageDirectoryFunction = decltype(&::setBaseLanguageDirectory);
using GetAvailableLanguageFunction = decltype(&::getAvailableLanguage);
using LoadLanguageResourceFunction = decltype(&::loadLanguageResource);
using UnloadLanguageResourceFunction = decltype(&::unloadLanguageResource);
using GetFontFunction = decltype(&::getFont);
using GetTextFunction = decltype(&::getText);

constexpr const char *LibraryName = "TovikLang.dll";
// Size of the text buffer handed to getText, in characters.
constexpr uint32_t TextBufferSize = 10240;

} // namespace TovikLangApi
