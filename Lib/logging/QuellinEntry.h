// The call log. Every logged operation builds one QuellinEntry on its stack; its writers send a
// begin record, note records and an end record to the log collector through the mailslot
// "QuellinSlot". While no collector listens, every writer returns 0 after one test of the handle;
// a call begun then ends without a record when a collector came meanwhile.
//
// Records (each field followed by ';'):
//   begin: !logb;<process>;<entry>;<seconds>.<ms>;<module>;<function>;<level>;[!input;]<arguments>
//   end:   !loge;<process>;<entry>;<seconds>.<ms>;<level>;[!output;]<arguments>
//   note:  !logn;<seconds>.<ms>,---,---;---;<module>;<function>;<level>;[!general;]<arguments>
// Arguments are name/value pairs: 'i:<name>;<value>;' for int, unsigned int and unsigned char,
// 'a:<name>;<UTF-16 units>;<value>;' for every other type; markers ("!input", ...) stand alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/MakeString.h"
#include "logging/QuellinFormat.h"
#include "platform/Clock.h"
#include "platform/HostTypes.h"
#include "platform/Mailslot.h"

// The logging vocabulary shared by every caller.
inline constexpr const wchar_t *QuellinSlotName = L"\\\\.\\mailslot\\QuellinSlot";
inline constexpr const wchar_t *QuellinMarkerInput = L"!input";
inline constexpr const wchar_t *QuellinMarkerOutput = L"!output";
inline constexpr const wchar_t *QuellinMarkerGeneral = L"!general";
inline constexpr const wchar_t *QuellinLevelNote = L"Note";
inline constexpr const wchar_t *QuellinLevelWarning = L"Warning";
inline constexpr const wchar_t *QuellinLevelError = L"Error";
inline constexpr const wchar_t *QuellinLevelComplete = L"Complete";
inline constexpr const wchar_t *QuellinLevelAutoEnd = L"Auto End";
// The name under which callers log the text that describes a call.
inline constexpr const wchar_t *QuellinDescription = L"description";

class QuellinEntry {
public:
    // The writer end of the mailslot, shared by every entry of the process. Open, close and send
    // may run on any thread.
    class MailSlotSocket {
    public:
        MailSlotSocket() = default;
        virtual ~MailSlotSocket();
        MailSlotSocket(const MailSlotSocket &) = delete;
        MailSlotSocket &operator=(const MailSlotSocket &) = delete;

        // Connects to the slot when a collector created it; a name other than the last one closes
        // the old connection first. Does nothing while open. Returns 0.
        DWORD Open(const std::wstring &slotName);
        // Open of the slot of the last Open, when due: not while open, nor while the collector's
        // absence is remembered (then without a lock or a system call).
        void OpenAgainWhenDue();
        void Close();
        // Closes the socket and frees what it holds, the name too: the next entry names it again.
        void Release();
        bool IsNamed() const { return mbNamed; }
        bool IsOpen() const { return mWriter.IsOpen(); }
        // One record as one datagram of UTF-16LE. 0 when sent or closed, else the error code; a
        // collector that went away closes the socket, so that a later Open connects again.
        DWORD Send(const std::wstring &record);

    private:
        std::mutex mNameLock; // the name and the open attempt
        std::wstring mSlotName;
        std::atomic<bool> mbNamed{false};
        Platform::MailslotWriter mWriter;
    };

    QuellinEntry(std::wstring module, std::wstring function);
    QuellinEntry(std::string module, std::string function);
    // Names as literals (a null pointer is an empty name): no copies on the heap unless a record
    // needs them.
    QuellinEntry(const char *module, const char *function);
    QuellinEntry(const wchar_t *module, const wchar_t *function);
    // Writes an "Auto End" record when still begun. Never throws.
    ~QuellinEntry();
    QuellinEntry(const QuellinEntry &) = delete;
    QuellinEntry &operator=(const QuellinEntry &) = delete;

    // The process-wide socket, never destroyed: a call on another thread may log while the process
    // exits.
    static MailSlotSocket *ProcessSocket();
    // At an unload (no call may be running then): closes the socket and frees what it holds.
    static void ReleaseProcessSocket();
    // True while a collector listens: the writers send nothing otherwise, so a caller may skip
    // building the texts of its records.
    static bool IsCollectorListening() { return TransportOpen(); }

    // ---- Record writers: 0, or the error code of a failed send ----
    // The level is anything a std::wstring_view is made of; it is measured only when a record is
    // sent.

    template <typename Level, typename... Args> DWORD LogBegin(const Level &level, const Args &...args) {
        if (!TransportOpen()) {
            mBegunUnsent = true;
            return 0;
        }
        if (mBegun) {
            WarnMisuse(true, PackArguments(args...));
            return 0;
        }
        mBegun = true;
        mBegunUnsent = false;
        return SendBegin(std::wstring_view(level), PackArguments(args...));
    }

    template <typename Level, typename... Args> DWORD LogEnd(const Level &level, const Args &...args) {
        if (!TransportOpen()) {
            mBegunUnsent = false;
            return 0;
        }
        if (!mBegun) {
            // A begin that no collector saw ends without a record: the collector came meanwhile.
            if (!mBegunUnsent)
                WarnMisuse(false, PackArguments(args...));
            mBegunUnsent = false;
            return 0;
        }
        mBegun = false;
        return SendEnd(std::wstring_view(level), PackArguments(args...));
    }

    template <typename Level, typename... Args> DWORD Log(const Level &level, const Args &...args) {
        if (!TransportOpen())
            return 0;
        return SendNote(std::wstring_view(level), PackArguments(args...));
    }

    // Parks arguments for the next record of this entry, whatever its kind.
    template <typename... Args> void AddArguments(const Args &...args) { mPending += PackArguments(args...); }
    void AddPending(const std::wstring &name, const std::wstring &value);

    // ---- Packing ----

    template <typename T> static std::wstring TypeTag(const T &) { return QuellinFormat::TypeTag<T>(); }

    // '<tag>:<text>'.
    template <typename T> std::wstring FormatValue(const T &value) const {
        std::wstring field = QuellinFormat::TypeTag<T>();
        field += static_cast<wchar_t>(mTypeSeparator);
        field += QuellinFormat::ValueText(value);
        return field;
    }

    template <typename... Args> std::wstring PackArguments(const Args &...args) const {
        if constexpr (sizeof...(Args) == 0) {
            return std::wstring();
        } else {
            std::wstring fields[] = {FormatValue(args)...};
            return JoinFields(fields, fields + sizeof...(Args));
        }
    }

    static std::wstring JoinFields(const std::wstring *first, const std::wstring *last);
    static std::wstring JoinFields(const std::vector<std::wstring> &fields) {
        return JoinFields(fields.data(), fields.data() + fields.size());
    }
    // Cuts the tag and its ':' off the front of a packed field and returns them ("" when none).
    static std::wstring SplitTypePrefix(std::wstring &field);
    // True when the text begins with the field of a reserved marker.
    static bool IsCommandText(const std::wstring &text);
    static bool IsReservedMarker(const std::wstring &text);
    // The time field: seconds, '.', milliseconds unpadded (7 ms -> ".7").
    static std::wstring FormatTime(const Platform::WallTime &time);

    const std::wstring &GetPending() const { return mPending; }
    bool IsBegun() const { return mBegun; }

private:
    // The process-wide socket once it was made, null before.
    static inline std::atomic<MailSlotSocket *> sMadeSocket{nullptr};

    static bool TransportOpen() {
        const MailSlotSocket *socket = sMadeSocket.load(std::memory_order_acquire);
        return socket != nullptr && socket->IsOpen();
    }
    DWORD SendBegin(std::wstring_view level, const std::wstring &arguments);
    DWORD SendEnd(std::wstring_view level, const std::wstring &arguments);
    DWORD SendNote(std::wstring_view level, const std::wstring &arguments);
    void AppendSections(std::wstring &record, const wchar_t *marker, const std::wstring &arguments);
    void AppendCallHead(std::wstring &record, const std::wstring &tag) const;
    static DWORD Deliver(const std::wstring &record);
    // The double-begin (true) or end-without-begin (false) warning note.
    void WarnMisuse(bool doubleBegin, const std::wstring &refusedArguments);

    static void OpenProcessSocket();
    // Keeps names given as pointers in the entry; false when copies do not fit.
    bool KeepNames(const char *module, const char *function);
    bool KeepNames(const wchar_t *module, const wchar_t *function);
    // The kept names as mModule and mFunction.
    void MakeNames() const;
    enum class Kept { None, Narrow, Wide, NarrowLiterals, WideLiterals };
    // Keeps literal names by address and others as copies: the kind kept, None when copies do not
    // fit.
    template <typename C, size_t N>
    static Kept KeepNamesIn(const C *module, const C *function, const C *(&literals)[2], C (&copies)[2][N],
                            Kept literalKind, Kept copyKind);

    bool mBegun = false;
    // A begin skipped while no collector listened, not yet ended.
    bool mBegunUnsent = false;
    mutable std::wstring mModule;
    mutable std::wstring mFunction;
    std::wstring mPending;
    // Names kept in the entry itself, as given, until a record needs them: most entries send
    // nothing. Literals of this module are kept as pointers, other names as copies.
    static constexpr size_t KeptNameLength = 63;
    mutable Kept mKept = Kept::None;
    union {
        char mKeptNarrow[2][KeptNameLength + 1];
        wchar_t mKeptWide[2][KeptNameLength + 1];
        const char *mNarrowLiterals[2];
        const wchar_t *mWideLiterals[2];
    };

    // Fixed for every entry.
    static constexpr const wchar_t *mNoteTag = L"!logn";
    static constexpr const wchar_t *mBeginTag = L"!logb";
    static constexpr const wchar_t *mEndTag = L"!loge";
    static constexpr wchar_t mFieldSeparator = L';';
    static constexpr wchar_t mReplacement = L'*'; // stands for ';' in module and function names
    static constexpr char mTypeSeparator = ':';
    static constexpr wchar_t mCommandPrefix = L'!';
};

// Logs the version block of a library file: a begin record with the pair "file" and an end record
// whose output section holds one pair per version key.
void LogFileVersionInfo(std::wstring module, std::wstring file);
