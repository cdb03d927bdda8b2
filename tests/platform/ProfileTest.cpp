// The INI engine over real files: the profile rules, atomic replacement, concurrent writers.
#include "platform/Profile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <filesystem>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace Platform;
using TestSupport::ReadFile;
using TestSupport::WriteFile;

namespace {

double ThreadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

class ProfileTest : public ::testing::Test {
protected:
    TestSupport::TempDir mDir;
    std::string mPath = mDir.File("settings.ini");
    std::wstring mFile = std::wstring(mPath.begin(), mPath.end());

    std::wstring Read(const wchar_t *section, const wchar_t *key, const wchar_t *def = L"<default>") {
        wchar_t buffer[256];
        uint32_t n = GetPrivateProfileString(section, key, def, buffer, 256, mFile.c_str());
        return std::wstring(buffer, n);
    }
    bool Write(const wchar_t *section, const wchar_t *key, const wchar_t *value) {
        return WritePrivateProfileString(section, key, value, mFile.c_str());
    }
};

TEST_F(ProfileTest, SectionsAndKeysMatchWithoutRegardToAsciiCase) {
    WriteFile(mPath, "[Stream Config]\nTimeOut=2.5\n[Grüße]\nÄrger=1\n");
    EXPECT_EQ(L"2.5", Read(L"STREAM CONFIG", L"timeout"));
    EXPECT_EQ(L"2.5", Read(L"stream config", L"TIMEOUT"));
    // Only a to z fold: other letters are distinct.
    EXPECT_EQ(L"1", Read(L"gRüßE", L"Ärger"));
    EXPECT_EQ(L"<default>", Read(L"GRÜßE", L"Ärger"));
    EXPECT_EQ(L"<default>", Read(L"Grüße", L"ärger"));
}

TEST_F(ProfileTest, FirstOccurrenceWins) {
    WriteFile(mPath, "[A]\nkey=first\nKEY=second\n[a]\nkey=third\nother=later section\n");
    EXPECT_EQ(L"first", Read(L"A", L"key"));
    EXPECT_EQ(L"later section", Read(L"A", L"other"));
    ASSERT_TRUE(Write(L"a", L"Key", L"new"));
    EXPECT_EQ("[A]\nkey=new\nKEY=second\n[a]\nkey=third\nother=later section\n", ReadFile(mPath));
}

TEST_F(ProfileTest, ValuesAreTrimmedAndLoseOnePairOfQuotes) {
    WriteFile(mPath, "[S]\n  spaced  =   a value  \t\n"
                     "double=\"quoted text \"\nsingle='x'\nmixed=\"x'\nnested=\"\"inner\"\"\n"
                     "lonely=\"\nempty=\n  [  Other Section  ]  \nk=v\n");
    EXPECT_EQ(L"a value", Read(L"S", L"spaced"));
    EXPECT_EQ(L"quoted text ", Read(L"S", L"double"));
    EXPECT_EQ(L"x", Read(L"S", L"single"));
    EXPECT_EQ(L"\"x'", Read(L"S", L"mixed"));
    EXPECT_EQ(L"\"inner\"", Read(L"S", L"nested"));
    EXPECT_EQ(L"\"", Read(L"S", L"lonely"));
    EXPECT_EQ(L"", Read(L"S", L"empty"));
    EXPECT_EQ(L"v", Read(L"Other Section", L"k"));
}

TEST_F(ProfileTest, ReadIsCutToSizeMinusOneAndReturnsTheCount) {
    WriteFile(mPath, "[S]\nk=abcdef\n");
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(3u, GetPrivateProfileString(L"S", L"k", L"", buffer, 4, mFile.c_str()));
    EXPECT_EQ(std::wstring(L"abc\0####", 8), std::wstring(buffer, 8));
    EXPECT_EQ(6u, GetPrivateProfileString(L"S", L"k", L"", buffer, 7, mFile.c_str()));
    EXPECT_EQ(L"abcdef", std::wstring(buffer));
    // The default is cut the same way.
    EXPECT_EQ(2u, GetPrivateProfileString(L"S", L"missing", L"xyz", buffer, 3, mFile.c_str()));
    EXPECT_EQ(L"xy", std::wstring(buffer));
    EXPECT_EQ(0u, GetPrivateProfileString(L"S", L"k", L"", buffer, 1, mFile.c_str()));
    EXPECT_EQ(L'\0', buffer[0]);
}

TEST_F(ProfileTest, NullOrEmptyBufferGetsNothing) {
    WriteFile(mPath, "[S]\nk=abc\n");
    wchar_t buffer[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(0u, GetPrivateProfileString(L"S", L"k", L"", nullptr, 100, mFile.c_str()));
    EXPECT_EQ(0u, GetPrivateProfileString(L"S", L"k", L"", buffer, 0, mFile.c_str()));
    EXPECT_EQ(L'#', buffer[0]);
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(L"<default>", Read(L"S", L"k"));
    WriteFile(mPath, "[S]\nk=v\n; comment=not a key\n");
    EXPECT_EQ(L"<default>", Read(L"T", L"k"));
    EXPECT_EQ(L"<default>", Read(L"S", L"x"));
    EXPECT_EQ(L"<default>", Read(L"S", L"; comment"));
    EXPECT_EQ(L"", Read(L"S", L"x", nullptr));
    EXPECT_EQ(L"fallback", ReadProfileString(L"S", L"x", L"fallback", mFile));
    EXPECT_EQ(L"v", ReadProfileString(L"s", L"K", L"fallback", mFile));
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndKey) {
    ASSERT_TRUE(Write(L"PontisPecos_ADConverter", L"Detector 1 name", L"Probe A"));
    EXPECT_EQ("[PontisPecos_ADConverter]\nDetector 1 name=Probe A\n", ReadFile(mPath));
    ASSERT_TRUE(Write(L"PontisPecos_ADConverter", L"Detector 2 name", L"Probe B"));
    ASSERT_TRUE(Write(L"Stream Config", L"Kind", L"VISA"));
    EXPECT_EQ("[PontisPecos_ADConverter]\nDetector 1 name=Probe A\nDetector 2 name=Probe B\n\n"
              "[Stream Config]\nKind=VISA\n",
              ReadFile(mPath));
    EXPECT_EQ(L"Probe B", Read(L"pontispecos_adconverter", L"detector 2 name"));
}

TEST_F(ProfileTest, WriteReplacesInPlaceAndKeepsEverythingElse) {
    const std::string before = "; settings of the test bench\n"
                               "[Foreign]\n"
                               "Colour=blue\n"
                               "\n"
                               "[Stream Config]\n"
                               "; time-out in seconds\n"
                               "  TimeOut = 2.5  \n"
                               "Kind=VISA\n"
                               "\n"
                               "[Tail]\n"
                               "x=1\n";
    WriteFile(mPath, before);
    ASSERT_TRUE(Write(L"stream config", L"timeout", L"10"));
    ASSERT_TRUE(Write(L"Stream Config", L"Address", L"127.0.0.1"));
    EXPECT_EQ("; settings of the test bench\n"
              "[Foreign]\n"
              "Colour=blue\n"
              "\n"
              "[Stream Config]\n"
              "; time-out in seconds\n"
              "TimeOut=10\n"
              "Kind=VISA\n"
              "Address=127.0.0.1\n"
              "\n"
              "[Tail]\n"
              "x=1\n",
              ReadFile(mPath));
}

TEST_F(ProfileTest, CrlfFilesAreReadAndKeepTheirLineBreaks) {
    WriteFile(mPath, "[S]\r\nk = v \r\nother=2\r\n");
    EXPECT_EQ(L"v", Read(L"S", L"k"));
    ASSERT_TRUE(Write(L"S", L"other", L"3"));
    ASSERT_TRUE(Write(L"New", L"n", L"4"));
    EXPECT_EQ("[S]\r\nk = v \r\nother=3\r\n\r\n[New]\r\nn=4\r\n", ReadFile(mPath));
}

TEST_F(ProfileTest, NonAsciiTextRoundTripsAsUtf8) {
    const std::wstring value = L"Grüße, 温度 €5 \U0001F600";
    ASSERT_TRUE(Write(L"Sektion Ä", L"Schlüssel", value.c_str()));
    EXPECT_EQ(value, Read(L"Sektion Ä", L"Schlüssel"));
    EXPECT_EQ("[Sektion \xC3\x84]\nSchl\xC3\xBCssel=Gr\xC3\xBC\xC3\x9F"
              "e, \xE6\xB8\xA9\xE5\xBA\xA6 \xE2\x82\xAC"
              "5 \xF0\x9F\x98\x80\n",
              ReadFile(mPath));
    // A leading byte-order mark is read past and kept.
    WriteFile(mPath, "\xEF\xBB\xBF[S]\nk=\xC3\xA9\n");
    EXPECT_EQ(L"é", Read(L"S", L"k"));
    ASSERT_TRUE(Write(L"S", L"k", L"e"));
    EXPECT_EQ("\xEF\xBB\xBF[S]\nk=e\n", ReadFile(mPath));
}

TEST_F(ProfileTest, NullValueDeletesTheKeyAndNullKeyTheSection) {
    WriteFile(mPath, "[A]\nk=1\nkeep=2\n[B]\n; note\nk=3\n[a]\nK=4\n[C]\nz=5\n");
    ASSERT_TRUE(Write(L"A", L"k", nullptr));
    EXPECT_EQ(L"<default>", Read(L"A", L"k")); // no later duplicate shows through
    EXPECT_EQ("[A]\nkeep=2\n[B]\n; note\nk=3\n[a]\n[C]\nz=5\n", ReadFile(mPath));
    ASSERT_TRUE(Write(L"b", nullptr, nullptr));
    EXPECT_EQ("[A]\nkeep=2\n[a]\n[C]\nz=5\n", ReadFile(mPath));
    // Deleting what is not there changes nothing and makes no file.
    ASSERT_TRUE(Write(L"Missing", nullptr, nullptr));
    ASSERT_TRUE(Write(L"A", L"missing", nullptr));
    EXPECT_EQ("[A]\nkeep=2\n[a]\n[C]\nz=5\n", ReadFile(mPath));
    const std::wstring other = mFile + L".other";
    ASSERT_TRUE(WritePrivateProfileString(L"S", L"k", nullptr, other.c_str()));
    EXPECT_FALSE(std::filesystem::exists(mPath + ".other"));
}

TEST_F(ProfileTest, NullSectionOrKeyListsNames) {
    WriteFile(mPath, "[One]\na=1\nB=2\n[Two]\n;c=3\n[one]\nA=9\nc=4\n");
    wchar_t buffer[64];
    uint32_t n = GetPrivateProfileString(nullptr, nullptr, L"", buffer, 64, mFile.c_str());
    EXPECT_EQ(std::wstring(L"One\0Two\0\0", 9), std::wstring(buffer, n + 1));
    n = GetPrivateProfileString(L"ONE", nullptr, L"", buffer, 64, mFile.c_str());
    EXPECT_EQ(std::wstring(L"a\0B\0c\0\0", 7), std::wstring(buffer, n + 1));
    // Cut to fit: two NULs at the end and size - 2 returned.
    n = GetPrivateProfileString(nullptr, nullptr, L"", buffer, 6, mFile.c_str());
    EXPECT_EQ(4u, n);
    EXPECT_EQ(std::wstring(L"One\0\0\0", 6), std::wstring(buffer, 6));
    n = GetPrivateProfileString(L"Absent", nullptr, L"", buffer, 64, mFile.c_str());
    EXPECT_EQ(0u, n);
    EXPECT_EQ(L'\0', buffer[0]);
}

TEST_F(ProfileTest, TextsThatWouldNotReadBackAreRefused) {
    WriteFile(mPath, "[S]\nk=v\n");
    EXPECT_FALSE(Write(L"S", L"k", L"one\n[Injected]\nx=1"));
    EXPECT_FALSE(Write(L"S", L"a=b", L"v"));
    EXPECT_FALSE(Write(L"S", L"", L"v"));
    EXPECT_FALSE(Write(L"S", L"; comment", L"v"));
    EXPECT_FALSE(Write(L"S]x", L"k", L"v"));
    EXPECT_FALSE(Write(nullptr, L"k", L"v"));
    EXPECT_EQ("[S]\nk=v\n", ReadFile(mPath));
}

TEST_F(ProfileTest, WriteFailuresReturnFalseAndLeaveTheFile) {
    const std::wstring nowhere = mFile + L".d/missing/settings.ini";
    EXPECT_FALSE(WritePrivateProfileString(L"S", L"k", L"v", nowhere.c_str()));
    if (geteuid() != 0) { // root writes anything
        WriteFile(mPath, "[S]\nk=v\n");
        chmod(mPath.c_str(), 0444);
        EXPECT_FALSE(Write(L"S", L"k", L"w"));
        EXPECT_EQ("[S]\nk=v\n", ReadFile(mPath));
    }
}

TEST_F(ProfileTest, ReplacementIsAtomicAndLeavesNoTemporaryFile) {
    // A large file, so that a non-atomic rewrite would be seen half-written.
    std::string padding;
    for (int i = 0; i < 2000; ++i)
        padding += "line" + std::to_string(i) + "=" + std::string(40, 'x') + "\n";
    WriteFile(mPath, "[Pad]\n" + padding + "[S]\nvalue=0\nend=1\n");
    chmod(mPath.c_str(), 0640);

    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        while (!done) {
            std::string content = ReadFile(mPath);
            if (content.size() < 1000 || content.compare(content.size() - 6, 6, "end=1\n") != 0)
                ++torn;
            ++reads;
        }
    });
    for (int i = 1; i <= 100; ++i)
        ASSERT_TRUE(Write(L"S", L"value", std::to_wstring(i).c_str()));
    done = true;
    reader.join();
    EXPECT_EQ(0, torn.load());
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(L"100", Read(L"S", L"value"));

    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(mDir.Path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"settings.ini"}, names);
    struct stat st;
    ASSERT_EQ(0, stat(mPath.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777); // the replacement keeps the file's mode
}

TEST_F(ProfileTest, WritesThroughALinkChangeItsTarget) {
    WriteFile(mPath, "[S]\nk=v\n");
    const std::string link = mDir.File("link.ini");
    ASSERT_EQ(0, symlink(mPath.c_str(), link.c_str()));
    const std::wstring wideLink(link.begin(), link.end());
    ASSERT_TRUE(WritePrivateProfileString(L"S", L"k", L"w", wideLink.c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ("[S]\nk=w\n", ReadFile(mPath));
}

TEST_F(ProfileTest, ConcurrentWritersOfDifferentKeysLoseNothing) {
    constexpr int Count = 150;
    pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        bool ok = true;
        for (int i = 0; i < Count; ++i)
            ok = Write(L"Shared", (L"child" + std::to_wstring(i)).c_str(), std::to_wstring(i).c_str()) && ok;
        _exit(ok ? 0 : 1);
    }
    std::thread sibling([&] {
        for (int i = 0; i < Count; ++i)
            Write(L"Shared", (L"thread" + std::to_wstring(i)).c_str(), std::to_wstring(i).c_str());
    });
    for (int i = 0; i < Count; ++i)
        EXPECT_TRUE(Write(L"Shared", (L"parent" + std::to_wstring(i)).c_str(), std::to_wstring(i).c_str()));
    sibling.join();

    int status = -1;
    bool ended = TestSupport::WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; },
                                        std::chrono::seconds(60));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));

    int missing = 0;
    for (const wchar_t *who : {L"child", L"thread", L"parent"})
        for (int i = 0; i < Count; ++i)
            missing += Read(L"Shared", (who + std::to_wstring(i)).c_str()) != std::to_wstring(i);
    EXPECT_EQ(0, missing);
}

} // namespace

// Lines that a write does not change keep every byte: their own line breaks, a stray CR, a last
// line without a break.
TEST_F(ProfileTest, RewritesKeepUnchangedLinesByteForByte) {
    struct Case {
        const char *before, *after;
    } cases[] = {
        {"[S]\nstray\r\r\nk=1\n", "[S]\nstray\r\r\nk=2\n"},
        {"[S]\nname\r\nk=1\n", "[S]\nname\r\nk=2\n"},
        {"[S]\r\nmixed\nk=1\r\n", "[S]\r\nmixed\nk=2\r\n"},
        {"[S]\nk=1", "[S]\nk=2"},
        {"[S]\nx=0", "[S]\nx=0\nk=2\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.before);
        WriteFile(mPath, c.before);
        ASSERT_TRUE(Write(L"S", L"k", L"2"));
        EXPECT_EQ(c.after, ReadFile(mPath));
    }
}

TEST_F(ProfileTest, LinesWithoutEqualsAreNoKeysAndDefaultsLoseTrailingBlanks) {
    WriteFile(mPath, "[S]\nstray line\nk=v\n");
    wchar_t buffer[64];
    uint32_t n = GetPrivateProfileString(L"S", nullptr, L"", buffer, 64, mFile.c_str());
    EXPECT_EQ(std::wstring(L"k\0\0", 3), std::wstring(buffer, n + 1));
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    ASSERT_TRUE(ReadProfileSection(L"S", entries, mFile));
    EXPECT_EQ(1u, entries.size());

    EXPECT_EQ(L"default", Read(L"S", L"missing", L"default  "));
    EXPECT_EQ(L"  default", Read(L"S", L"missing", L"  default "));
    EXPECT_EQ(L"default", ReadProfileString(L"S", L"missing", L"default  ", mFile));
}

// Only regular files of a sane size are read: nothing blocks or fills the memory.
TEST_F(ProfileTest, OnlyRegularFilesOfSaneSizeAreRead) {
    const std::string fifo = mDir.File("fifo.ini");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string huge = mDir.File("huge.ini");
    WriteFile(huge, "[S]\nk=v\n");
    ASSERT_EQ(0, truncate(huge.c_str(), 64 * 1024 * 1024));
    for (const std::string &path : {fifo, std::string("/dev/zero"), huge}) {
        SCOPED_TRACE(path);
        const std::wstring file(path.begin(), path.end());
        std::thread([&] {
            wchar_t buffer[16];
            EXPECT_EQ(3u, GetPrivateProfileString(L"S", L"k", L"def", buffer, 16, file.c_str()));
            EXPECT_FALSE(WritePrivateProfileString(L"S", L"k", L"w", file.c_str()));
        }).join();
    }
}

TEST_F(ProfileTest, WritesThroughADanglingLinkCreateItsTarget) {
    const std::string link = mDir.File("link.ini");
    ASSERT_EQ(0, symlink("target.ini", link.c_str()));
    const std::wstring wideLink(link.begin(), link.end());
    ASSERT_TRUE(WritePrivateProfileString(L"S", L"k", L"w", wideLink.c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ("[S]\nk=w\n", ReadFile(mDir.File("target.ini")));
}

// Twice the names take about twice the time; comparing every name with every other takes four
// times as long. The thread's own processor time: a busy machine moves neither.
TEST_F(ProfileTest, ListingManyNamesTakesLinearTime) {
    const auto listing = [this](int count) {
        std::string content = "[S]\n";
        for (int i = 0; i < count; ++i)
            content +=
                "key" + std::to_string(i) + "=" + std::to_string(i) + "\n[T" + std::to_string(i) + "]\n[S]\n";
        WriteFile(mPath, content);
        std::vector<wchar_t> buffer(20 * static_cast<size_t>(count));
        const double start = ThreadMilliseconds();
        const uint32_t keys =
            GetPrivateProfileString(L"S", nullptr, L"", buffer.data(), buffer.size(), mFile.c_str());
        const uint32_t sections =
            GetPrivateProfileString(nullptr, nullptr, L"", buffer.data(), buffer.size(), mFile.c_str());
        std::vector<std::pair<std::wstring, std::wstring>> entries;
        EXPECT_TRUE(ReadProfileSection(L"S", entries, mFile));
        const double took = ThreadMilliseconds() - start;
        EXPECT_GT(keys, 0u);
        EXPECT_GT(sections, 0u);
        EXPECT_EQ(static_cast<size_t>(count), entries.size());
        return took;
    };
    // A second try only where the first is neither linear nor clearly quadratic: the least of each
    // size counts.
    double small = listing(20000);
    double large = listing(40000);
    if (large >= 3.0 * small && large < 4.0 * small) {
        small = std::min(small, listing(20000));
        large = std::min(large, listing(40000));
    }
    EXPECT_LT(large, 3.0 * small) << "20,000 names: " << small << " ms, 40,000 names: " << large << " ms";
}
