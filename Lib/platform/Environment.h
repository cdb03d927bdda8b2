// Where the Windows paths of the design live on this machine.
#pragma once

#include <string>

namespace Platform {

// Value of an environment variable, or the fallback when unset or empty.
std::string GetEnv(const char *name, const std::string &fallback = std::string());
bool IsNonInteractive(); // KORVALIS_NONINTERACTIVE=1

// $KORVALIS_DRIVE_C (default "/"), the stand-in of "C:\".
std::string DriveCDirectory();
// A file in the root of drive C: DriveCFile("DDLOGGER.DAT").
std::string DriveCFile(const std::string &fileName);

// $TMPDIR, else $XDG_RUNTIME_DIR, else /tmp/korvalis-<uid> (created 0700, owned by the user).
// "" when that directory cannot be made private (owned by another user, or not a directory).
std::string TemporaryDirectory();

// Device path of serial port COM<n>: $KORVALIS_COM<n>, else /dev/ttyS<n-1>; "" for port 0.
std::string SerialPortPath(unsigned portNumber);

bool FileExists(const std::string &path);

// Full path of the shared object or program that holds the given address ("" when unknown).
std::string ModuleFilePath(const void *addressInModule);

} // namespace Platform
