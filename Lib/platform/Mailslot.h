// The mailslot stand-in: a Unix datagram socket at $KORVALIS_MAILSLOT_DIR/NAME
// (default /tmp/korvalis-mailslot). The collector binds it; writers connect and send one
// datagram per record.
#pragma once

#include <chrono>
#include <cstdint>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace Platform {

// Socket path for a mailslot name; "\\.\mailslot\QuellinSlot" and "QuellinSlot" both map to
// <dir>/QuellinSlot.
std::string MailslotPath(const std::wstring &slotName);

// Writer side. Thread-safe: open, close and send are serialised.
class MailslotWriter {
public:
    MailslotWriter() = default;
    ~MailslotWriter();
    MailslotWriter(const MailslotWriter &) = delete;
    MailslotWriter &operator=(const MailslotWriter &) = delete;

    // Connects when the slot exists; false (and closed) when it does not. After a miss, the slot
    // is looked for again after 1 ms, or at once when a reader of this process was created since.
    bool Open(const std::wstring &slotName);
    void Close();
    // Closes and frees what the writer holds (an unload of the module that holds it).
    void Release();
    // Neither takes a lock nor makes a system call.
    bool IsOpen() const { return mOpen.load(std::memory_order_acquire); }
    // False while the miss of the last Open is remembered (an Open of that slot would not look).
    bool LookDue() const;
    // Sends the bytes as one datagram. 0 on success or when closed (nothing sent); otherwise an
    // errno-style code. A full queue waits up to 100 ms for the reader; after one such wait ran
    // out, later sends do not wait until one succeeds. A reader that went away closes the writer;
    // when the slot is there again (a restarted collector), it reconnects once and sends again.
    uint32_t Send(const void *data, size_t size);
    // One record: UTF-16LE, no byte-order mark, no terminating null.
    uint32_t SendRecord(const std::wstring &record);

private:
    void SetFd(int fd);

    mutable std::mutex mLock;
    int mFd = -1;
    std::atomic<bool> mOpen{false}; // mFd >= 0, readable without the lock
    std::string mPath;
    bool mSkipWaiting = false;
    bool mMissRemembered = false;
    std::wstring mMissSlot;
    uint64_t mMissTime = 0;
    uint64_t mMissGeneration = 0;
    // The remembered miss for LookDue: when it ends (0: none) and the reader generation it is for.
    std::atomic<uint64_t> mMissUntil{0};
    std::atomic<uint64_t> mMissUntilGeneration{0};
};

// Reader side (the collector and tests).
class MailslotReader {
public:
    MailslotReader() = default;
    ~MailslotReader();
    MailslotReader(const MailslotReader &) = delete;
    MailslotReader &operator=(const MailslotReader &) = delete;

    // Creates (binds) the slot, replacing a stale socket file; every user may write to it. The
    // directory must be a real one, sticky when others may write to it; a missing default one is
    // made 1777, one named by $KORVALIS_MAILSLOT_DIR 0700. False on failure; errno EADDRINUSE when
    // a live collector holds the slot.
    bool Create(const std::wstring &slotName);
    void Close();
    bool IsOpen() const { return mFd >= 0; }
    // Next datagram as raw bytes; nullopt when none arrived before the timeout.
    std::optional<std::string> ReceiveBytes(std::chrono::milliseconds timeout);
    // Next record decoded from UTF-16LE.
    std::optional<std::wstring> Receive(std::chrono::milliseconds timeout);

private:
    int mFd = -1;
    std::string mPath;
    // The socket file as bound (a socket descriptor's own fstat names no file on disk).
    uint64_t mFileDevice = 0;
    uint64_t mFileInode = 0;
};

} // namespace Platform
