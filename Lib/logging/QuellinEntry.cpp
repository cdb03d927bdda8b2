// Call entries, their record writers and the process-wide mailslot socket.
#include "logging/QuellinEntry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <utility>

#include "core/NeverDestroyed.h"
#include "core/Version.h"
#include "logging/ConcealedText.h"
#include "platform/ModuleImage.h"
#include "platform/Text.h"

// ---- The process-wide socket ----------------------------------------------------------------------

namespace {

// Never destroyed: a call on another thread may log while the process exits. Closed and emptied
// at an unload (ReleaseProcessSocket).
QuellinEntry::MailSlotSocket &TheSocket(std::atomic<QuellinEntry::MailSlotSocket *> &made) {
    static NeverDestroyed<QuellinEntry::MailSlotSocket> socket;
    static const bool published = (made.store(&socket.Get(), std::memory_order_release), true);
    (void)published;
    return socket.Get();
}

// The replacement of the field separator in module and function names.
std::wstring ReplaceSeparators(std::wstring text, wchar_t separator, wchar_t replacement) {
    std::replace(text.begin(), text.end(), separator, replacement);
    return text;
}

size_t BoundedLength(const char *text, size_t limit) {
    return strnlen(text, limit);
}

size_t BoundedLength(const wchar_t *text, size_t limit) {
    return wcsnlen(text, limit);
}

// Copies both names into the kept buffers; false when either is longer than a buffer holds.
template <typename C, size_t N> bool CopyNames(const C *module, const C *function, C (&kept)[2][N]) {
    const C *names[] = {module, function};
    size_t lengths[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (names[i] == nullptr)
            continue;
        lengths[i] = BoundedLength(names[i], N);
        if (lengths[i] == N)
            return false;
    }
    for (int i = 0; i < 2; ++i) {
        if (names[i] != nullptr)
            std::memcpy(kept[i], names[i], lengths[i] * sizeof(C));
        kept[i][lengths[i]] = 0;
    }
    return true;
}

} // namespace

QuellinEntry::MailSlotSocket *QuellinEntry::ProcessSocket() {
    return &TheSocket(sMadeSocket);
}

void QuellinEntry::ReleaseProcessSocket() {
    TheSocket(sMadeSocket).Release();
}

QuellinEntry::MailSlotSocket::~MailSlotSocket() {
    Close();
}

DWORD QuellinEntry::MailSlotSocket::Open(const std::wstring &slotName) {
    std::lock_guard<std::mutex> guard(mNameLock);
    if (slotName != mSlotName) {
        mWriter.Close();
        mSlotName = slotName;
    }
    mbNamed = true;
    if (!mWriter.IsOpen())
        mWriter.Open(mSlotName);
    return 0;
}

void QuellinEntry::MailSlotSocket::OpenAgainWhenDue() {
    if (mWriter.IsOpen() || !mWriter.LookDue())
        return;
    std::lock_guard<std::mutex> guard(mNameLock);
    if (!mWriter.IsOpen())
        mWriter.Open(mSlotName);
}

void QuellinEntry::MailSlotSocket::Close() {
    mWriter.Close();
}

void QuellinEntry::MailSlotSocket::Release() {
    std::lock_guard<std::mutex> guard(mNameLock);
    mWriter.Release();
    std::wstring().swap(mSlotName);
    mbNamed = false;
}

DWORD QuellinEntry::MailSlotSocket::Send(const std::wstring &record) {
    return mWriter.SendRecord(record);
}

// ---- Entry ---------------------------------------------------------------------------------------

void QuellinEntry::OpenProcessSocket() {
    // Open already: nothing to look for.
    if (TransportOpen())
        return;
    MailSlotSocket *socket = ProcessSocket();
    // The slot is named once (again after a release); after that only a look that is due costs
    // anything.
    if (!socket->IsNamed())
        socket->Open(QuellinSlotName);
    socket->OpenAgainWhenDue();
}

QuellinEntry::QuellinEntry(std::wstring module, std::wstring function)
    : mModule(ReplaceSeparators(std::move(module), mFieldSeparator, mReplacement)),
      mFunction(ReplaceSeparators(std::move(function), mFieldSeparator, mReplacement)) {
    OpenProcessSocket();
}

QuellinEntry::QuellinEntry(std::string module, std::string function)
    : QuellinEntry(ToStdWstring(module), ToStdWstring(function)) {}

QuellinEntry::QuellinEntry(const char *module, const char *function) {
    if (!KeepNames(module, function)) {
        mModule = ReplaceSeparators(Platform::Utf8ToWide(module != nullptr ? module : ""), mFieldSeparator,
                                    mReplacement);
        mFunction = ReplaceSeparators(Platform::Utf8ToWide(function != nullptr ? function : ""),
                                      mFieldSeparator, mReplacement);
    }
    OpenProcessSocket();
}

QuellinEntry::QuellinEntry(const wchar_t *module, const wchar_t *function) {
    if (!KeepNames(module, function)) {
        mModule = ReplaceSeparators(module != nullptr ? module : L"", mFieldSeparator, mReplacement);
        mFunction = ReplaceSeparators(function != nullptr ? function : L"", mFieldSeparator, mReplacement);
    }
    OpenProcessSocket();
}

// Literals stay where they are for as long as this code is loaded: they are kept by address.
template <typename C, size_t N>
QuellinEntry::Kept QuellinEntry::KeepNamesIn(const C *module, const C *function, const C *(&literals)[2],
                                             C (&copies)[2][N], Kept literalKind, Kept copyKind) {
    if (Platform::AreReadOnlyInThisModule(module, function)) {
        literals[0] = module;
        literals[1] = function;
        return literalKind;
    }
    return CopyNames(module, function, copies) ? copyKind : Kept::None;
}

bool QuellinEntry::KeepNames(const char *module, const char *function) {
    mKept = KeepNamesIn(module, function, mNarrowLiterals, mKeptNarrow, Kept::NarrowLiterals, Kept::Narrow);
    return mKept != Kept::None;
}

bool QuellinEntry::KeepNames(const wchar_t *module, const wchar_t *function) {
    mKept = KeepNamesIn(module, function, mWideLiterals, mKeptWide, Kept::WideLiterals, Kept::Wide);
    return mKept != Kept::None;
}

void QuellinEntry::MakeNames() const {
    if (mKept == Kept::None)
        return;
    const bool narrow = mKept == Kept::Narrow || mKept == Kept::NarrowLiterals;
    std::wstring names[2];
    for (int i = 0; i < 2; ++i) {
        if (narrow)
            names[i] = Platform::Utf8ToWide(mKept == Kept::Narrow ? mKeptNarrow[i] : mNarrowLiterals[i]);
        else
            names[i] = mKept == Kept::Wide ? mKeptWide[i] : mWideLiterals[i];
    }
    mKept = Kept::None;
    mModule = ReplaceSeparators(std::move(names[0]), mFieldSeparator, mReplacement);
    mFunction = ReplaceSeparators(std::move(names[1]), mFieldSeparator, mReplacement);
}

QuellinEntry::~QuellinEntry() {
    if (!mBegun)
        return;
    try {
        LogEnd(QuellinLevelAutoEnd);
    } catch (...) {
        // A record that cannot be built is lost; the logged operation goes on.
    }
}

void QuellinEntry::AddPending(const std::wstring &name, const std::wstring &value) {
    // Copied only where a secret may have to be masked.
    std::wstring concealed;
    const std::wstring *shown = &value;
    if (ConcealedText::IsActive()) {
        concealed = value;
        ConcealedText::Conceal(concealed);
        shown = &concealed;
    }
    mPending += MakeWString(L"a", mTypeSeparator, name, mFieldSeparator, Platform::Utf16Length(*shown),
                            mFieldSeparator, *shown, mFieldSeparator);
}

// ---- Packing -------------------------------------------------------------------------------------

std::wstring QuellinEntry::SplitTypePrefix(std::wstring &field) {
    size_t colon = field.find(static_cast<wchar_t>(mTypeSeparator));
    if (colon == std::wstring::npos)
        return std::wstring();
    std::wstring tag = field.substr(0, colon + 1);
    field.erase(0, colon + 1);
    return tag;
}

std::wstring QuellinEntry::JoinFields(const std::wstring *first, const std::wstring *last) {
    std::vector<std::wstring> fields(first, last);
    const bool concealing = ConcealedText::IsActive();
    size_t i = 0;
    while (i < fields.size()) {
        SplitTypePrefix(fields[i]);
        if (!fields[i].empty() && fields[i][0] == mCommandPrefix) {
            ++i;
            continue;
        }
        // A name, or a text that stands alone, may hold a secret as well as a value.
        if (concealing)
            ConcealedText::Conceal(fields[i]);
        if (i + 1 < fields.size()) {
            std::wstring tag = SplitTypePrefix(fields[i + 1]);
            if (concealing)
                ConcealedText::Conceal(fields[i + 1]);
            fields[i].insert(0, tag);
            if (fields[i][0] == L'a') {
                fields[i] += mFieldSeparator;
                fields[i] += QuellinFormat::UnsignedText(Platform::Utf16Length(fields[i + 1]));
            }
        }
        i += 2;
    }
    std::wstring joined;
    for (const auto &field : fields) {
        joined += field;
        joined += mFieldSeparator;
    }
    return joined;
}

bool QuellinEntry::IsReservedMarker(const std::wstring &text) {
    return text == QuellinMarkerGeneral || text == QuellinMarkerInput || text == QuellinMarkerOutput;
}

bool QuellinEntry::IsCommandText(const std::wstring &text) {
    if (text.empty() || text[0] != mCommandPrefix)
        return false;
    return IsReservedMarker(text.substr(0, text.find(mFieldSeparator)));
}

std::wstring QuellinEntry::FormatTime(const Platform::WallTime &time) {
    std::wstring text = QuellinFormat::SignedText(time.Seconds);
    text += L'.';
    text += QuellinFormat::UnsignedText(time.Milliseconds);
    return text;
}

// ---- Records -------------------------------------------------------------------------------------

void QuellinEntry::AppendSections(std::wstring &record, const wchar_t *marker,
                                  const std::wstring &arguments) {
    // The pending text and this call's arguments each get the section's marker unless they begin
    // with a reserved marker of their own.
    for (const std::wstring *part : {static_cast<const std::wstring *>(&mPending), &arguments}) {
        if (part->empty())
            continue;
        if (!IsCommandText(*part)) {
            record += marker;
            record += mFieldSeparator;
        }
        record += *part;
    }
    mPending.clear();
}

// Tag, process, entry and time: the head that begin and end records share.
void QuellinEntry::AppendCallHead(std::wstring &record, const std::wstring &tag) const {
    record += tag;
    record += mFieldSeparator;
    record += QuellinFormat::UnsignedText(Platform::CurrentProcessId());
    record += mFieldSeparator;
    record += MakeStringDetail::PointerText<wchar_t>(this);
    record += mFieldSeparator;
    record += FormatTime(Platform::WallClockNow());
    record += mFieldSeparator;
}

DWORD QuellinEntry::Deliver(const std::wstring &record) {
    return ProcessSocket()->Send(record);
}

DWORD QuellinEntry::SendBegin(std::wstring_view level, const std::wstring &arguments) {
    MakeNames();
    std::wstring record;
    AppendCallHead(record, mBeginTag);
    record += mModule;
    record += mFieldSeparator;
    record += mFunction;
    record += mFieldSeparator;
    record += level;
    record += mFieldSeparator;
    AppendSections(record, QuellinMarkerInput, arguments);
    return Deliver(record);
}

DWORD QuellinEntry::SendEnd(std::wstring_view level, const std::wstring &arguments) {
    std::wstring record;
    AppendCallHead(record, mEndTag);
    record += level;
    record += mFieldSeparator;
    AppendSections(record, QuellinMarkerOutput, arguments);
    return Deliver(record);
}

DWORD QuellinEntry::SendNote(std::wstring_view level, const std::wstring &arguments) {
    MakeNames();
    std::wstring record = mNoteTag;
    record += mFieldSeparator;
    record += FormatTime(Platform::WallClockNow());
    record += L",---,---";
    record += mFieldSeparator;
    record += L"---";
    record += mFieldSeparator;
    record += mModule;
    record += mFieldSeparator;
    record += mFunction;
    record += mFieldSeparator;
    record += level;
    record += mFieldSeparator;
    AppendSections(record, QuellinMarkerGeneral, arguments);
    return Deliver(record);
}

void QuellinEntry::WarnMisuse(bool doubleBegin, const std::wstring &refusedArguments) {
    MakeNames();
    if (doubleBegin)
        Log(QuellinLevelWarning, QuellinDescription, L"LogBegin sended twice", L"Warning",
            L"LogBegin sended 2 times", L"Module", mModule, L"Function", mFunction, QuellinMarkerGeneral,
            L"OriginalArgumentsBelow", L"----", QuellinMarkerInput, L"OriginalArgumentsBelow", L"----",
            QuellinMarkerOutput, L"OriginalArgumentsBelow", L"----", refusedArguments);
    else
        Log(QuellinLevelWarning, QuellinDescription, L"LogEnd without LogBegin", L"Warning 1",
            L"LogEnd sended without LogBegin", L"Warning 2", L"Either no LogBegin or multiple LogEnds",
            L"Module", mModule, L"Function", mFunction, QuellinMarkerGeneral, L"OriginalArgumentsBelow",
            L"----", QuellinMarkerInput, L"OriginalArgumentsBelow", L"----", QuellinMarkerOutput,
            L"OriginalArgumentsBelow", L"----", refusedArguments);
}

// ---- Version block of a library ------------------------------------------------------------------

void LogFileVersionInfo(std::wstring module, std::wstring file) {
    std::vector<std::wstring> names;
    std::vector<std::wstring> values;
    Version::ReadStrings(file, names, values);
    QuellinEntry entry(std::move(module), MakeWString(file, L" Info"));
    entry.LogBegin(QuellinLevelNote, L"file", file);
    for (size_t i = 0; i < names.size() && i < values.size(); ++i)
        entry.AddPending(names[i], values[i]);
    entry.LogEnd(QuellinLevelComplete);
}
