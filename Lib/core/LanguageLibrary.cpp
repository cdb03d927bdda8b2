// The language-resource library bound at run time: load, bind, fetch texts, release.
#include "core/LanguageLibrary.h"

#include <algorithm>
#include <cstring>
#include <vector>

clsTovikLng::clsTovikLng(DWORD dwResourceNumber) : mdwResourceNumber(dwResourceNumber) {}

clsTovikLng::~clsTovikLng() {
    try {
        if (mbLoaded)
            Unload();
    } catch (...) {
    }
}

void clsTovikLng::ClearEntryPoints() {
    mSetBaseLanguageDirectory = nullptr;
    mGetAvailableLanguage = nullptr;
    mLoadLanguageResource = nullptr;
    mUnloadLanguageResource = nullptr;
    mGetFont = nullptr;
    mGetText = nullptr;
}

DWORD clsTovikLng::Load() {
    if (!mLibrary.IsLoaded()) {
        ClearEntryPoints();
        if (!mLibrary.Load(TovikLangApi::LibraryName))
            return ErrorLibraryNotFound;
        const bool bBound = mLibrary.Bind("setBaseLanguageDirectory", mSetBaseLanguageDirectory) &&
                            mLibrary.Bind("getAvailableLanguage", mGetAvailableLanguage) &&
                            mLibrary.Bind("loadLanguageResource", mLoadLanguageResource) &&
                            mLibrary.Bind("unloadLanguageResource", mUnloadLanguageResource) &&
                            mLibrary.Bind("getFont", mGetFont) && mLibrary.Bind("getText", mGetText);
        if (!bBound) {
            // A half-bound library is not kept: the next call tries again and fails the same way,
            // instead of answering with empty texts as if the library worked.
            FreeModule();
            return Platform::EntryPointNotFound;
        }
    }
    if (mLoadLanguageResource != nullptr) {
        mLoadLanguageResource(static_cast<uint32_t>(mdwResourceNumber), 0);
        mbLoaded = true;
    }
    return 0;
}

std::string clsTovikLng::getText(DWORD dwTextNumber, const std::string &sArgument1,
                                 const std::string &sArgument2, const std::string &sArgument3,
                                 const std::string &sArgument4, const std::string &sArgument5,
                                 const std::string &sArgument6, const std::string &sArgument7,
                                 const std::string &sArgument8, const std::string &sArgument9,
                                 const std::string &sArgument10) {
    if (!mbLoaded && Load() != 0)
        return TovikLangLoadFailureText;
    if (mGetText == nullptr)
        return std::string();
    std::vector<char> buffer(TovikLangApi::TextBufferSize, '\0');
    const int32_t nWritten =
        mGetText(static_cast<uint32_t>(mdwResourceNumber), static_cast<uint32_t>(dwTextNumber), buffer.data(),
                 TovikLangApi::TextBufferSize, sArgument1.c_str(), sArgument2.c_str(), sArgument3.c_str(),
                 sArgument4.c_str(), sArgument5.c_str(), sArgument6.c_str(), sArgument7.c_str(),
                 sArgument8.c_str(), sArgument9.c_str(), sArgument10.c_str());
    // The count is trusted only within the buffer and up to the text's terminating NUL.
    size_t nLength = nWritten > 0 ? std::min<size_t>(static_cast<size_t>(nWritten), buffer.size()) : 0;
    nLength = static_cast<size_t>(std::find(buffer.begin(), buffer.begin() + nLength, '\0') - buffer.begin());
    return std::string(buffer.data(), nLength);
}

void clsTovikLng::Unload() {
    if (mbLoaded && mUnloadLanguageResource != nullptr)
        mUnloadLanguageResource(static_cast<uint32_t>(mdwResourceNumber));
    mbLoaded = false;
    FreeModule();
}

DWORD clsTovikLng::FreeModule() {
    if (!mLibrary.IsLoaded())
        return 0;
    mLibrary.Unload();
    ClearEntryPoints();
    return 0;
}
