// Call entries and their records, received through a real collector socket.
#include "logging/QuellinEntry.h"

#include "QuellinRecord.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <regex>
#include <thread>

using namespace std::chrono_literals;
using Quellin::Record;

namespace {

std::wstring Pid() {
    return std::to_wstring(Platform::CurrentProcessId());
}
std::wstring Address(const void *entry) {
    return MakeWString(entry);
}

// Seconds '.' milliseconds without padding, close to now.
void ExpectTimeField(const std::wstring &time) {
    std::wsmatch match;
    ASSERT_TRUE(std::regex_match(time, match, std::wregex(L"(\\d+)\\.(0|[1-9]\\d{0,2})"))) << time;
    const long long seconds = std::stoll(match[1].str());
    const long long now = Platform::WallClockNow().Seconds;
    EXPECT_LE(std::llabs(now - seconds), 5);
}

// The record text after the time field, which changes from run to run (a note's time field
// includes its ",---,---").
std::wstring AfterTime(const Record &record) {
    size_t at = record.Raw.find(record.Time);
    return at == std::wstring::npos ? record.Raw : record.Raw.substr(at + record.Time.size());
}

// Records sent before the mark arrive before it.
void ExpectNextIsMark(Quellin::Collector &collector) {
    Platform::MailslotWriter writer;
    ASSERT_TRUE(writer.Open(L"QuellinSlot"));
    ASSERT_EQ(writer.SendRecord(L"mark"), 0u);
    auto next = collector.Next(10s);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->Raw, L"mark");
}

// A private mailslot directory with a collector in it; the process-wide socket starts closed so
// that the first entry of a test connects to this collector.
class QuellinEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        QuellinEntry::ProcessSocket()->Close();
        mCollector = std::make_unique<Quellin::Collector>();
        ASSERT_TRUE(mCollector->IsOpen());
    }
    void TearDown() override { QuellinEntry::ProcessSocket()->Close(); }

    std::vector<Record> Records(size_t count) { return mCollector->Collect(count, 10s); }
    // Nothing more was sent: a mark sent now is the next record.
    void ExpectQuiet() { ExpectNextIsMark(*mCollector); }

    TestSupport::IsolatedEnvironment mEnv;
    std::unique_ptr<Quellin::Collector> mCollector;
};

TEST_F(QuellinEntryTest, BeginRecordFieldByField) {
    QuellinEntry entry("DeviceDriver", "SetCommand");
    EXPECT_EQ(entry.LogBegin(L"Note", QuellinDescription, std::string("SetCommand(\"*IDN?\")"), "Count", 5u,
                             "Cmd", std::string("a;b")),
              0u);
    auto records = Records(1);
    ASSERT_EQ(records.size(), 1u);
    const Record &r = records[0];
    EXPECT_EQ(r.RecordKind, Record::Kind::Begin);
    EXPECT_EQ(r.Tag, L"!logb");
    EXPECT_EQ(r.Process, Pid());
    EXPECT_EQ(r.Entry, Address(&entry));
    EXPECT_EQ(r.Entry.size(), 16u);
    ExpectTimeField(r.Time);
    EXPECT_EQ(r.Module, L"DeviceDriver");
    EXPECT_EQ(r.Function, L"SetCommand");
    EXPECT_EQ(r.Level, L"Note");
    EXPECT_TRUE(r.Complete);
    EXPECT_EQ(r.Raw, L"!logb;" + Pid() + L";" + Address(&entry) + L";" + r.Time +
                         L";DeviceDriver;SetCommand;Note;!input;a:description;19;SetCommand(\"*IDN?\");"
                         L"i:Count;5;a:Cmd;3;a;b;");
    EXPECT_EQ(r.Value(L"Cmd", L"!input"), L"a;b");
    EXPECT_TRUE(entry.IsBegun());
}

TEST_F(QuellinEntryTest, EndRecordPairsWithItsBegin) {
    QuellinEntry first("DeviceDriver", "Init");
    QuellinEntry second("DeviceDriver", "Other");
    EXPECT_EQ(first.LogBegin(L"Note"), 0u);
    EXPECT_EQ(second.LogBegin(L"Note"), 0u);
    EXPECT_EQ(first.LogEnd(L"Complete", "Result", DWORD{0}), 0u);
    auto records = Records(3);
    ASSERT_EQ(records.size(), 3u);
    const Record &end = records[2];
    EXPECT_EQ(end.RecordKind, Record::Kind::End);
    EXPECT_EQ(end.Entry, records[0].Entry);
    EXPECT_NE(end.Entry, records[1].Entry);
    EXPECT_EQ(end.Process, Pid());
    ExpectTimeField(end.Time);
    EXPECT_EQ(end.Raw, L"!loge;" + Pid() + L";" + Address(&first) + L";" + end.Time +
                           L";Complete;!output;a:Result;1;0;");
    EXPECT_FALSE(first.IsBegun());
    // An empty argument list adds nothing after the level.
    EXPECT_EQ(AfterTime(records[0]), L";DeviceDriver;Init;Note;");
}

TEST_F(QuellinEntryTest, NoteRecordFieldByField) {
    QuellinEntry entry("DeviceDriver", "GetValue");
    EXPECT_EQ(entry.Log(L"Warning", "dValue", 0.25, "ID", DWORD{58}), 0u);
    auto records = Records(1);
    ASSERT_EQ(records.size(), 1u);
    const Record &r = records[0];
    EXPECT_EQ(r.RecordKind, Record::Kind::Note);
    ASSERT_GT(r.Time.size(), 8u);
    EXPECT_EQ(r.Time.substr(r.Time.size() - 8), L",---,---");
    ExpectTimeField(r.Time.substr(0, r.Time.size() - 8));
    EXPECT_EQ(r.Raw,
              L"!logn;" + r.Time + L";---;DeviceDriver;GetValue;Warning;!general;a:dValue;4;0.25;a:ID;2;58;");
    EXPECT_FALSE(entry.IsBegun());
}

TEST_F(QuellinEntryTest, SeparatorsInNamesReplaced) {
    QuellinEntry narrow("A;B", "f;g;");
    QuellinEntry wide(L"X;Y", L"Z");
    narrow.Log(L"Note");
    wide.LogBegin(L"Note");
    auto records = Records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Module, L"A*B");
    EXPECT_EQ(records[0].Function, L"f*g*");
    EXPECT_EQ(records[1].Module, L"X*Y");
    EXPECT_EQ(records[1].Level, L"Note");
    wide.LogEnd(L"Complete");
}

// Names in writable memory are taken when the entry is made, static ones as well.
TEST_F(QuellinEntryTest, NamesInWritableStaticMemoryAreTakenWhenTheEntryIsMade) {
    static char module[] = "Static;Module";
    static wchar_t function[] = L"StaticFunction";
    QuellinEntry narrow(module, "f");
    QuellinEntry wide(L"M", function);
    module[0] = 'X';
    function[0] = L'X';
    narrow.Log(L"Note");
    wide.Log(L"Note");
    auto records = Records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Module, L"Static*Module");
    EXPECT_EQ(records[1].Function, L"StaticFunction");
    module[0] = 'S';
    function[0] = L'S';
}

// Names given as pointers are taken when the entry is made, short and long ones alike.
TEST_F(QuellinEntryTest, NamesAreTakenWhenTheEntryIsMade) {
    std::string module = "Mod;ule";
    std::string function = std::string(80, 'f') + ";";
    QuellinEntry entry(module.c_str(), function.c_str());
    module.assign(module.size(), 'X');
    function.assign(function.size(), 'X');
    entry.Log(L"Note");
    auto records = Records(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Module, L"Mod*ule");
    EXPECT_EQ(records[0].Function, std::wstring(80, L'f') + L"*");
}

// Names around the length that an entry keeps in place arrive whole, narrow and wide.
TEST_F(QuellinEntryTest, NamesAtTheKeptLengthArriveWhole) {
    const size_t lengths[] = {62, 63, 64, 65};
    for (size_t length : lengths) {
        {
            const std::string module(length, 'm');
            QuellinEntry entry(module.c_str(), "f");
            entry.Log(L"Note");
        }
        {
            const std::wstring function(length, L'w');
            QuellinEntry entry(L"M", function.c_str());
            entry.Log(L"Note");
        }
        auto records = Records(2);
        ASSERT_EQ(records.size(), 2u) << length;
        EXPECT_EQ(records[0].Module, std::wstring(length, L'm')) << length;
        EXPECT_EQ(records[1].Function, std::wstring(length, L'w')) << length;
        EXPECT_EQ(records[1].Module, L"M") << length;
    }
}

TEST_F(QuellinEntryTest, Utf8NamesAndValuesArriveWhole) {
    QuellinEntry entry("M\xC3\xB6"
                       "dul",
                       "F");
    entry.Log(L"Note", "v", std::wstring(L"\U0001F600;x"));
    auto records = Records(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Module, L"M\u00F6dul");
    EXPECT_TRUE(records[0].Complete);
    EXPECT_EQ(records[0].Value(L"v"), L"\U0001F600;x");
    EXPECT_NE(records[0].Raw.find(L"a:v;4;"), std::wstring::npos);
}

TEST_F(QuellinEntryTest, PendingTextGoesToTheNextRecordOfAnyKind) {
    QuellinEntry entry("M", "F");
    entry.AddArguments("n", 1);
    entry.AddPending(L"key", L"v;1");
    EXPECT_EQ(entry.GetPending(), L"i:n;1;a:key;3;v;1;");
    entry.LogBegin(L"Note", "x", 2);
    EXPECT_EQ(entry.GetPending(), L"");
    entry.Log(L"Note");
    entry.AddArguments("late", 3);
    entry.Log(L"Note", "y", 4);
    entry.LogEnd(L"Complete");
    auto records = Records(4);
    ASSERT_EQ(records.size(), 4u);
    // One marker before each part.
    EXPECT_EQ(AfterTime(records[0]), L";M;F;Note;!input;i:n;1;a:key;3;v;1;!input;i:x;2;");
    EXPECT_EQ(AfterTime(records[1]), L";---;M;F;Note;");
    EXPECT_EQ(AfterTime(records[2]), L";---;M;F;Note;!general;i:late;3;!general;i:y;4;");
    EXPECT_EQ(AfterTime(records[3]), L";Complete;");
}

TEST_F(QuellinEntryTest, CallerMarkersReplaceTheSectionMarker) {
    QuellinEntry entry("M", "F");
    entry.LogBegin(L"Note", QuellinMarkerInput, "a", 1, QuellinMarkerOutput, "b", 2);
    entry.Log(L"Note", L"!inputs", "c", 3);
    entry.AddArguments(QuellinMarkerGeneral, "d", 4);
    entry.LogEnd(L"Complete", "e", 5);
    auto records = Records(3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].CountMarkers(L"!input"), 1u);
    EXPECT_EQ(AfterTime(records[0]), L";M;F;Note;!input;i:a;1;!output;i:b;2;");
    // "!inputs" is no reserved marker, so the section still gets its own.
    EXPECT_EQ(AfterTime(records[1]), L";---;M;F;Note;!general;!inputs;i:c;3;");
    EXPECT_EQ(AfterTime(records[2]), L";Complete;!general;i:d;4;!output;i:e;5;");
}

TEST_F(QuellinEntryTest, LoneNameAtTheEnd) {
    QuellinEntry entry("M", "F");
    entry.Log(L"Note", "a", 1, "alone");
    auto records = Records(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(AfterTime(records[0]), L";---;M;F;Note;!general;i:a;1;alone;");
    ASSERT_EQ(records[0].Items.size(), 3u);
    EXPECT_EQ(records[0].Items[2].Type, 'n');
    EXPECT_EQ(records[0].Items[2].Name, L"alone");
}

TEST_F(QuellinEntryTest, DoubleBeginWarns) {
    QuellinEntry entry("M", "F");
    EXPECT_EQ(entry.LogBegin(L"Note", "n", 1), 0u);
    EXPECT_EQ(entry.LogBegin(L"Note", "x", 7), 0u);
    EXPECT_TRUE(entry.IsBegun());
    EXPECT_EQ(entry.LogEnd(L"Complete"), 0u);
    auto records = Records(3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].RecordKind, Record::Kind::Begin);
    EXPECT_EQ(records[2].RecordKind, Record::Kind::End);
    const Record &warning = records[1];
    EXPECT_EQ(warning.RecordKind, Record::Kind::Note);
    EXPECT_EQ(warning.Level, L"Warning");
    EXPECT_EQ(AfterTime(warning),
              L";---;M;F;Warning;!general;a:description;21;LogBegin sended twice;"
              L"a:Warning;23;LogBegin sended 2 times;a:Module;1;M;a:Function;1;F;"
              L"!general;a:OriginalArgumentsBelow;4;----;!input;a:OriginalArgumentsBelow;4;----;"
              L"!output;a:OriginalArgumentsBelow;4;----;i:x;7;;");
    ExpectQuiet();
}

TEST_F(QuellinEntryTest, EndWithoutBeginWarns) {
    QuellinEntry entry("Mod", "Fn");
    EXPECT_EQ(entry.LogEnd(L"Error", "code", DWORD{3}), 0u);
    EXPECT_EQ(entry.LogBegin(L"Note"), 0u);
    EXPECT_EQ(entry.LogEnd(L"Complete"), 0u);
    EXPECT_EQ(entry.LogEnd(L"Complete"), 0u);
    auto records = Records(4);
    ASSERT_EQ(records.size(), 4u);
    const std::wstring expected =
        L";---;Mod;Fn;Warning;!general;a:description;23;LogEnd without LogBegin;"
        L"a:Warning 1;30;LogEnd sended without LogBegin;a:Warning 2;38;Either no LogBegin or multiple "
        L"LogEnds;"
        L"a:Module;3;Mod;a:Function;2;Fn;"
        L"!general;a:OriginalArgumentsBelow;4;----;!input;a:OriginalArgumentsBelow;4;----;"
        L"!output;a:OriginalArgumentsBelow;4;----;";
    EXPECT_EQ(records[0].RecordKind, Record::Kind::Note);
    EXPECT_EQ(AfterTime(records[0]), expected + L"a:code;1;3;;");
    EXPECT_EQ(records[1].RecordKind, Record::Kind::Begin);
    EXPECT_EQ(records[2].RecordKind, Record::Kind::End);
    EXPECT_EQ(AfterTime(records[3]), expected + L";");
    ExpectQuiet();
}

TEST_F(QuellinEntryTest, AutoEndFromAnEntryLeftBegun) {
    std::wstring address;
    {
        QuellinEntry entry("M", "F");
        address = Address(&entry);
        entry.LogBegin(L"Note");
        entry.AddArguments("partial", 3);
    }
    {
        QuellinEntry finished("M", "G");
        finished.LogBegin(L"Note");
        finished.LogEnd(L"Complete");
    }
    auto records = Records(4);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].RecordKind, Record::Kind::End);
    EXPECT_EQ(records[1].Entry, address);
    EXPECT_EQ(records[1].Level, L"Auto End");
    EXPECT_EQ(AfterTime(records[1]), L";Auto End;!output;i:partial;3;");
    // A finished entry writes no second end.
    EXPECT_EQ(records[3].Level, L"Complete");
    ExpectQuiet();
}

TEST_F(QuellinEntryTest, NotesAroundBeginAndEndKeepTheFlag) {
    QuellinEntry entry("M", "F");
    entry.Log(L"Note");
    EXPECT_FALSE(entry.IsBegun());
    entry.LogBegin(L"Note");
    entry.Log(L"Error");
    EXPECT_TRUE(entry.IsBegun());
    entry.LogEnd(L"Complete");
    entry.Log(L"Note");
    EXPECT_FALSE(entry.IsBegun());
    auto records = Records(5);
    ASSERT_EQ(records.size(), 5u);
    const Record::Kind kinds[] = {Record::Kind::Note, Record::Kind::Begin, Record::Kind::Note,
                                  Record::Kind::End, Record::Kind::Note};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(records[i].RecordKind, kinds[i]) << i;
    ExpectQuiet();
}

TEST_F(QuellinEntryTest, CollectorThatStartsAgainGetsLaterRecords) {
    {
        QuellinEntry entry("M", "first");
        entry.Log(L"Note");
    }
    ASSERT_EQ(Records(1).size(), 1u);
    mCollector.reset();
    {
        // The send finds the collector gone, reports it and closes the socket.
        QuellinEntry entry("M", "lost");
        EXPECT_NE(entry.Log(L"Note"), 0u);
        EXPECT_FALSE(QuellinEntry::ProcessSocket()->IsOpen());
        EXPECT_EQ(entry.Log(L"Note"), 0u);
    }
    mCollector = std::make_unique<Quellin::Collector>();
    ASSERT_TRUE(mCollector->IsOpen());
    {
        QuellinEntry entry("M", "again");
        EXPECT_EQ(entry.LogBegin(L"Note"), 0u);
        EXPECT_EQ(entry.LogEnd(L"Complete"), 0u);
    }
    auto records = Records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Function, L"again");
    EXPECT_EQ(records[1].RecordKind, Record::Kind::End);
}

TEST_F(QuellinEntryTest, RecordsOfManyThreadsStayWhole) {
    constexpr int Threads = 4;
    constexpr int Calls = 200;
    std::vector<Record> received;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (received.size() < size_t{Threads * Calls * 2}) {
            auto r = mCollector->Next(2s);
            if (!r)
                break;
            received.push_back(std::move(*r));
        }
        done = true;
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < Calls; ++i) {
                QuellinEntry entry("Thread" + std::to_string(t), "Call");
                entry.LogBegin(L"Note", "i", i, "text", std::string(100, 'x'));
                entry.LogEnd(L"Complete");
            }
        });
    for (auto &w : writers)
        w.join();
    reader.join();
    ASSERT_EQ(received.size(), size_t{Threads * Calls * 2});
    for (const auto &r : received) {
        EXPECT_TRUE(r.Complete) << r.Raw;
        if (r.RecordKind == Record::Kind::Begin) {
            EXPECT_EQ(r.Value(L"text").size(), 100u);
        }
    }
}

// ---- Version block of a library ----

TEST_F(QuellinEntryTest, FileVersionInfoLogsEveryKeyInOrder) {
    const std::string library = mEnv.Root() + "/libstandin.so";
    TestSupport::WriteFile(library, "");
    TestSupport::WriteFile(library + ".version",
                           "[StringFileInfo]\nFileVersion=1.2.3\nProductName=Stand;In\n");
    const std::wstring file = ToStdWstring(library);
    LogFileVersionInfo(L"GPIB", file);
    auto records = Records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].RecordKind, Record::Kind::Begin);
    EXPECT_EQ(records[0].Module, L"GPIB");
    EXPECT_EQ(records[0].Function, file + L" Info");
    EXPECT_EQ(records[0].Level, L"Note");
    EXPECT_EQ(records[0].Value(L"file", L"!input"), file);
    const Record &end = records[1];
    EXPECT_EQ(end.RecordKind, Record::Kind::End);
    EXPECT_EQ(end.Level, L"Complete");
    EXPECT_EQ(end.Entry, records[0].Entry);
    const wchar_t *keys[] = {L"Comments",       L"InternalName",   L"ProductName",      L"CompanyName",
                             L"LegalCopyright", L"ProductVersion", L"FileDescription",  L"LegalTrademarks",
                             L"PrivateBuild",   L"FileVersion",    L"OriginalFilename", L"SpecialBuild"};
    ASSERT_EQ(end.Items.size(), 13u);
    EXPECT_EQ(end.Items[0].Type, 'm');
    EXPECT_EQ(end.Items[0].Name, L"!output");
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(end.Items[i + 1].Type, 'a');
        EXPECT_EQ(end.Items[i + 1].Name, keys[i]);
    }
    EXPECT_EQ(end.Value(L"FileVersion"), L"1.2.3");
    EXPECT_EQ(end.Value(L"ProductName"), L"Stand;In");
    EXPECT_EQ(end.Value(L"Comments"), L"");
    ExpectQuiet();
}

TEST_F(QuellinEntryTest, FileVersionInfoWithoutBlockRepeatsTheKeys) {
    LogFileVersionInfo(L"VISA", L"/nonexistent/libvisa32.so");
    auto records = Records(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].Value(L"FileVersion"), L"FileVersion");
    EXPECT_EQ(records[1].Value(L"SpecialBuild"), L"SpecialBuild");
}

// ---- Without a collector ----

class QuellinEntryNoCollectorTest : public ::testing::Test {
protected:
    void SetUp() override { QuellinEntry::ProcessSocket()->Close(); }
    void TearDown() override { QuellinEntry::ProcessSocket()->Close(); }
    TestSupport::IsolatedEnvironment mEnv;
};

TEST_F(QuellinEntryNoCollectorTest, WritersReturnZeroAndChangeNothing) {
    {
        QuellinEntry entry("M", "F");
        EXPECT_FALSE(QuellinEntry::ProcessSocket()->IsOpen());
        entry.AddArguments("p", 1);
        EXPECT_EQ(entry.LogBegin(L"Note", "a", 1), 0u);
        EXPECT_FALSE(entry.IsBegun());
        EXPECT_EQ(entry.Log(L"Note", "b", 2), 0u);
        EXPECT_EQ(entry.LogEnd(L"Complete"), 0u);
        EXPECT_EQ(entry.GetPending(), L"i:p;1;");
    }
    // A collector that starts afterwards has received nothing.
    Quellin::Collector collector;
    ASSERT_TRUE(collector.IsOpen());
    ExpectNextIsMark(collector);
}

// A call begun before the collector came ends without a record; a second end still warns.
TEST_F(QuellinEntryNoCollectorTest, SkippedBeginEndsQuietlyWhenACollectorCame) {
    QuellinEntry early("M", "early");
    EXPECT_EQ(early.LogBegin(L"Note"), 0u);
    Quellin::Collector collector;
    ASSERT_TRUE(collector.IsOpen());
    QuellinEntry later("M", "later"); // opens the socket
    ASSERT_TRUE(QuellinEntry::IsCollectorListening());
    EXPECT_EQ(early.LogEnd(L"Complete"), 0u);
    EXPECT_EQ(early.LogEnd(L"Complete"), 0u);
    auto r = collector.Next(2s);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->Function, L"early");
    EXPECT_EQ(r->Value(L"Warning 1"), L"LogEnd sended without LogBegin");
    ExpectNextIsMark(collector);
}

} // namespace
