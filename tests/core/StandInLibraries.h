// Where the built stand-in libraries lie, and scopes that make the language-resource library
// present or missing for the code under test.
#pragma once

#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "support/TestSupport.h"

#include <string>

namespace StandIns {

// build/stand-ins: from the runner's environment, else beside the test program's folder.
inline std::string Directory() {
    std::string binary = TestSupport::RunnerEnv("KORVALIS_BINARY_DIR");
    if (!binary.empty())
        return binary + "/stand-ins";
    std::string program = Platform::ModuleFilePath(reinterpret_cast<const void *>(&Directory));
    for (int up = 0; up < 2; ++up) {
        size_t slash = program.find_last_of('/');
        if (slash == std::string::npos)
            return std::string();
        program.erase(slash);
    }
    return Platform::FileExists(program + "/stand-ins/libtoviklang.so") ? program + "/stand-ins"
                                                                        : std::string();
}

// The library search path points at the stand-ins.
class LanguageLibraryPresent {
public:
    LanguageLibraryPresent() : mPath("KORVALIS_LIBRARY_PATH", Directory()) {}

private:
    TestSupport::ScopedEnv mPath;
};

// The library search path points at an empty folder.
class LanguageLibraryMissing {
public:
    LanguageLibraryMissing() : mPath("KORVALIS_LIBRARY_PATH", mEmpty.Path()) {}
    // False when the library can still be loaded (left loaded by someone, or on the loader's path).
    static bool ReallyMissing() {
        Platform::DynamicLibrary probe;
        return !probe.Load("TovikLang.dll");
    }

private:
    TestSupport::TempDir mEmpty;
    TestSupport::ScopedEnv mPath;
};

} // namespace StandIns
