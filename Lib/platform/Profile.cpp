// The INI engine behind the profile functions.
//
// A file is read whole into lines and classified (section header, key line, anything else, which
// is kept untouched). Reads need no lock: writers replace the file by rename, so a reader sees
// the old or the new file. Writers are serialised by a process mutex and flock on the file's
// directory (which the rename leaves in place, unlike the file itself), read the current file,
// change it and write it to a temporary file beside it that replaces the original.
#include "platform/Profile.h"

#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

struct Line {
    enum class Kind { Other, Section, Entry };
    std::string text;      // as in the file, without the line break
    std::string lineBreak; // as in the file; "" for a last line without one
    Kind kind = Kind::Other;
    bool hasEquals = false; // a line without "=" is found by a read but listed as no key
    std::string name;       // section name or key, trimmed
    std::string value;      // trimmed, quotes stripped
};

struct IniFile {
    std::vector<Line> lines;
    bool exists = false;
    bool crlf = false; // the break of new lines
    bool bom = false;
    mode_t mode = 0;
};

std::string_view Trim(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return std::string_view();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return std::string(value.substr(1, value.size() - 2));
    return std::string(value);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

Line ParseLine(std::string text) {
    Line line;
    std::string_view body = Trim(text);
    if (!body.empty() && body[0] == '[') {
        size_t close = body.find(']');
        line.kind = Line::Kind::Section;
        line.name = std::string(Trim(body.substr(1, close == std::string_view::npos ? close : close - 1)));
    } else if (!body.empty() && body[0] != ';') {
        size_t equals = body.find('=');
        line.kind = Line::Kind::Entry;
        line.name = std::string(Trim(body.substr(0, equals)));
        line.hasEquals = equals != std::string_view::npos;
        if (line.hasEquals)
            line.value = Unquote(Trim(body.substr(equals + 1)));
    }
    line.text = std::move(text);
    return line;
}

// No settings file comes near this; anything larger is not read.
constexpr size_t MaxFileBytes = 16 * 1024 * 1024;

// False only when the file exists but cannot be read; only a regular file is read (a FIFO or
// device is refused without blocking).
bool Load(const std::string &path, IniFile &ini) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > MaxFileBytes) {
        close(fd);
        errno = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        return false;
    }
    ini.mode = st.st_mode & 07777;
    std::string content;
    char chunk[8192];
    ssize_t n;
    bool ok = true;
    while ((n = read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        content.append(chunk, static_cast<size_t>(n));
        if (content.size() > MaxFileBytes) {
            errno = EFBIG;
            ok = false;
            break;
        }
    }
    int saved = errno;
    close(fd);
    errno = saved;
    if (!ok)
        return false;

    ini.exists = true;
    size_t pos = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        ini.bom = true;
        pos = 3;
    }
    size_t firstBreak = content.find('\n', pos);
    ini.crlf = firstBreak != std::string::npos && firstBreak > pos && content[firstBreak - 1] == '\r';
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        size_t next = end == std::string::npos ? content.size() : end + 1;
        if (end == std::string::npos)
            end = content.size();
        if (end > pos && content[end - 1] == '\r')
            --end;
        Line line = ParseLine(content.substr(pos, end - pos));
        line.lineBreak = content.substr(end, next - end);
        ini.lines.push_back(std::move(line));
        pos = next;
    }
    return true;
}

// Calls visit(index) for each key line of every section of that name, in file order, until it
// returns false.
template <typename Visit> void ForEachEntry(const IniFile &ini, std::string_view section, Visit visit) {
    bool inSection = false;
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        const Line &line = ini.lines[i];
        if (line.kind == Line::Kind::Section)
            inSection = SameName(line.name, section);
        else if (inSection && line.kind == Line::Kind::Entry && !visit(i))
            return;
    }
}

bool FindValue(const IniFile &ini, std::string_view section, std::string_view key, std::string &value) {
    bool found = false;
    ForEachEntry(ini, section, [&](size_t i) {
        if (!SameName(ini.lines[i].name, key))
            return true;
        value = ini.lines[i].value;
        found = true;
        return false;
    });
    return found;
}

// Names in file order, each once (compared without regard to ASCII case).
class UniqueNames {
public:
    void Add(const std::string &name) {
        std::string folded;
        folded.reserve(name.size());
        for (char c : name)
            folded += AsciiUpper(c);
        if (mSeen.insert(std::move(folded)).second)
            mNames.push_back(name);
    }
    std::vector<std::string> &Names() { return mNames; }

private:
    std::unordered_set<std::string> mSeen;
    std::vector<std::string> mNames;
};

std::vector<std::string> SectionNames(const IniFile &ini) {
    UniqueNames names;
    for (const Line &line : ini.lines)
        if (line.kind == Line::Kind::Section)
            names.Add(line.name);
    return std::move(names.Names());
}

// Key lines of the section that are listed (those with "="), the first of each name.
std::vector<size_t> ListedKeys(const IniFile &ini, std::string_view section) {
    std::unordered_set<std::string> seen;
    std::vector<size_t> found;
    ForEachEntry(ini, section, [&](size_t i) {
        const Line &line = ini.lines[i];
        std::string folded;
        for (char c : line.name)
            folded += AsciiUpper(c);
        if (line.hasEquals && seen.insert(std::move(folded)).second)
            found.push_back(i);
        return true;
    });
    return found;
}

std::vector<std::string> KeyNames(const IniFile &ini, std::string_view section) {
    std::vector<std::string> names;
    for (size_t i : ListedKeys(ini, section))
        names.push_back(ini.lines[i].name);
    return names;
}

bool HasSection(const IniFile &ini, std::string_view section) {
    for (const Line &line : ini.lines)
        if (line.kind == Line::Kind::Section && SameName(line.name, section))
            return true;
    return false;
}

// A line added by a write ends with the file's line break.
Line NewLine(const IniFile &ini, std::string text) {
    Line line = ParseLine(std::move(text));
    line.lineBreak = ini.crlf ? "\r\n" : "\n";
    return line;
}

// Replaces the first occurrence of the key, else adds it at the end of the first section of that
// name (before its trailing blank lines), else adds the section at the end of the file.
bool SetValue(IniFile &ini, const std::string &section, const std::string &key, const std::string &value) {
    bool done = false;
    bool changed = false;
    ForEachEntry(ini, section, [&](size_t i) {
        Line &line = ini.lines[i];
        if (!SameName(line.name, key))
            return true;
        std::string text = line.name + "=" + value;
        changed = text != line.text;
        if (changed) {
            std::string lineBreak = std::move(line.lineBreak);
            ini.lines[i] = ParseLine(text);
            ini.lines[i].lineBreak = std::move(lineBreak);
        }
        done = true;
        return false;
    });
    if (done)
        return changed;

    for (size_t i = 0; i < ini.lines.size(); ++i) {
        const Line &header = ini.lines[i];
        if (header.kind != Line::Kind::Section || !SameName(header.name, section))
            continue;
        size_t insertAt = i + 1;
        for (size_t j = i + 1; j < ini.lines.size() && ini.lines[j].kind != Line::Kind::Section; ++j)
            if (!Trim(ini.lines[j].text).empty())
                insertAt = j + 1;
        ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                         NewLine(ini, key + "=" + value));
        return true;
    }

    if (!ini.lines.empty() && !Trim(ini.lines.back().text).empty())
        ini.lines.push_back(NewLine(ini, ""));
    ini.lines.push_back(NewLine(ini, "[" + section + "]"));
    ini.lines.push_back(NewLine(ini, key + "=" + value));
    return true;
}

// Removes every occurrence of the key in every section of that name, so that no later duplicate
// shows through.
bool DeleteKey(IniFile &ini, const std::string &section, const std::string &key) {
    std::vector<size_t> doomed;
    ForEachEntry(ini, section, [&](size_t i) {
        if (SameName(ini.lines[i].name, key))
            doomed.push_back(i);
        return true;
    });
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
        ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(*it));
    return !doomed.empty();
}

// Removes every section of that name with all its lines.
bool DeleteSection(IniFile &ini, const std::string &section) {
    std::vector<Line> kept;
    bool inSection = false;
    bool changed = false;
    for (Line &line : ini.lines) {
        if (line.kind == Line::Kind::Section)
            inSection = SameName(line.name, section);
        if (inSection)
            changed = true;
        else
            kept.push_back(std::move(line));
    }
    ini.lines = std::move(kept);
    return changed;
}

std::string DirectoryOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the lines to a temporary file beside the target and renames it over the target.
bool Save(const std::string &path, const IniFile &ini) {
    // Lines keep their own breaks; only a last line without one that is no longer last gets one.
    std::string content = ini.bom ? "\xEF\xBB\xBF" : "";
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        const Line &line = ini.lines[i];
        content += line.text;
        if (!line.lineBreak.empty())
            content += line.lineBreak;
        else if (i + 1 < ini.lines.size())
            content += ini.crlf ? "\r\n" : "\n";
    }

    static std::atomic<unsigned> serial{0};
    const std::string dir = DirectoryOf(path);
    const std::string base = path.substr(path.find_last_of('/') + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(getpid()), serial++);
        temp = dir + "/." + base + suffix;
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = (!ini.exists || fchmod(fd, ini.mode) == 0) && WriteAll(fd, content) && fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        errno = saved;
    }
    return ok;
}

// flock on the directory that holds the file, released at scope end.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string &dir) {
        mFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (mFd < 0)
            return;
        int rc;
        while ((rc = flock(mFd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            int saved = errno;
            close(mFd);
            mFd = -1;
            errno = saved;
        }
    }
    ~DirectoryLock() {
        if (mFd >= 0)
            close(mFd); // closing releases the lock
    }
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;
    bool Held() const { return mFd >= 0; }

private:
    int mFd = -1;
};

std::mutex &WriteMutex() {
    static std::mutex *writeMutex = new std::mutex;
    return *writeMutex;
}

// Links are followed, a dangling one too, so that writing through a link changes (or creates) its
// target instead of replacing the link.
std::string TargetPath(const std::string &path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<size_t>(n) >= link.size())
            break;
        link.resize(static_cast<size_t>(n));
        target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
    }
    return target;
}

bool HasLineBreak(const std::string &text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// A default loses its trailing blanks, as the profile API's does.
std::wstring DefaultText(const wchar_t *defaultValue) {
    std::wstring text = defaultValue ? defaultValue : L"";
    while (!text.empty() && text.back() == L' ')
        text.pop_back();
    return text;
}

uint32_t CopyOut(const std::wstring &text, wchar_t *buffer, uint32_t size) {
    size_t count = std::min<size_t>(text.size(), size - 1);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count), buffer);
    buffer[count] = L'\0';
    return static_cast<uint32_t>(count);
}

// Each name followed by a NUL, then a second NUL. A list that does not fit is cut, ends with two
// NULs and returns size - 2.
uint32_t CopyList(const std::vector<std::string> &names, wchar_t *buffer, uint32_t size) {
    std::wstring list;
    for (const auto &name : names) {
        list += Utf8ToWide(name);
        list += L'\0';
    }
    if (list.size() + 1 <= size) {
        std::copy(list.begin(), list.end(), buffer);
        buffer[list.size()] = L'\0';
        return static_cast<uint32_t>(list.size());
    }
    if (size < 2) {
        buffer[0] = L'\0';
        return 0;
    }
    std::copy(list.begin(), list.begin() + (size - 2), buffer);
    buffer[size - 2] = L'\0';
    buffer[size - 1] = L'\0';
    return size - 2;
}

} // namespace

uint32_t GetPrivateProfileString(const wchar_t *section, const wchar_t *key, const wchar_t *defaultValue,
                                 wchar_t *buffer, uint32_t size, const wchar_t *fileName) {
    if (buffer == nullptr || size == 0)
        return 0;
    IniFile ini;
    if (fileName != nullptr && !Load(WideToUtf8(fileName), ini))
        ini = IniFile(); // an unreadable file reads like a missing one
    if (section == nullptr)
        return CopyList(SectionNames(ini), buffer, size);
    if (key == nullptr)
        return CopyList(KeyNames(ini, WideToUtf8(section)), buffer, size);
    std::string value;
    if (FindValue(ini, WideToUtf8(section), WideToUtf8(key), value))
        return CopyOut(Utf8ToWide(value), buffer, size);
    return CopyOut(DefaultText(defaultValue), buffer, size);
}

bool WritePrivateProfileString(const wchar_t *section, const wchar_t *key, const wchar_t *value,
                               const wchar_t *fileName) {
    if (section == nullptr || fileName == nullptr || *fileName == L'\0') {
        errno = EINVAL;
        return false;
    }
    const std::string sectionText(Trim(WideToUtf8(section)));
    const std::string keyText = key ? std::string(Trim(WideToUtf8(key))) : std::string();
    const std::string valueText = value ? WideToUtf8(value) : std::string();
    // Texts that would read back as something else (or inject lines) are refused.
    bool badKey = key && (keyText.empty() || keyText[0] == '[' || keyText[0] == ';' ||
                          keyText.find('=') != std::string::npos || HasLineBreak(keyText));
    if (HasLineBreak(sectionText) || sectionText.find(']') != std::string::npos || badKey ||
        HasLineBreak(valueText)) {
        errno = EINVAL;
        return false;
    }

    const std::string path = TargetPath(WideToUtf8(fileName));
    std::lock_guard<std::mutex> processGuard(WriteMutex());
    DirectoryLock directoryGuard(DirectoryOf(path));
    if (!directoryGuard.Held())
        return false;
    IniFile ini;
    if (!Load(path, ini))
        return false;
    if (ini.exists && access(path.c_str(), W_OK) != 0)
        return false; // a read-only file stays as it is (rename alone would not stop us)

    bool changed;
    if (key == nullptr)
        changed = DeleteSection(ini, sectionText);
    else if (value == nullptr)
        changed = DeleteKey(ini, sectionText, keyText);
    else
        changed = SetValue(ini, sectionText, keyText, valueText);
    if (!changed)
        return true;
    return Save(path, ini);
}

bool IsProfileFileRefused(const wchar_t *fileName) {
    IniFile ini;
    return fileName != nullptr && !Load(WideToUtf8(fileName), ini);
}

bool FindProfileString(const std::wstring &section, const std::wstring &key, std::wstring &value,
                       const std::wstring &fileName) {
    IniFile ini;
    std::string found;
    if (!Load(WideToUtf8(fileName), ini) || !FindValue(ini, WideToUtf8(section), WideToUtf8(key), found))
        return false;
    value = Utf8ToWide(found);
    return true;
}

std::wstring ReadProfileString(const std::wstring &section, const std::wstring &key,
                               const std::wstring &defaultValue, const std::wstring &fileName) {
    std::wstring value;
    return FindProfileString(section, key, value, fileName) ? value : DefaultText(defaultValue.c_str());
}

bool ReadProfileSection(const std::wstring &section,
                        std::vector<std::pair<std::wstring, std::wstring>> &entries,
                        const std::wstring &fileName) {
    entries.clear();
    IniFile ini;
    const std::string sectionText = WideToUtf8(section);
    if (!Load(WideToUtf8(fileName), ini) || !HasSection(ini, sectionText))
        return false;
    for (size_t i : ListedKeys(ini, sectionText))
        entries.emplace_back(Utf8ToWide(ini.lines[i].name), Utf8ToWide(ini.lines[i].value));
    return true;
}

} // namespace Platform
