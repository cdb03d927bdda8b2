// The settings database: typed values addressed by a table path and a key. The abstract
// ProgramSettingsDatabase holds the location, the stack of open tables and the open count;
// TableFullPathProgramSettingsDatabase joins the open tables into one path; INIProgramSettingsDatabase
// keeps the values in an INI file, one section per table path; MemoryProgramSettingsDatabase keeps the
// same texts in memory.
//
// Writes, PushTable and PopTable act only while the database is open; readers work in both states.
#pragma once

#include "platform/HostTypes.h"

#include <wx/string.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>

// Byte string whose bytes travel unchanged to and from std::string.
using U8String = std::basic_string<unsigned char>;

class ProgramSettingsDatabase {
public:
    explicit ProgramSettingsDatabase(std::string location);
    virtual ~ProgramSettingsDatabase();
    ProgramSettingsDatabase(const ProgramSettingsDatabase &) = delete;
    ProgramSettingsDatabase &operator=(const ProgramSettingsDatabase &) = delete;

    // Takes effect only while closed.
    virtual void SetLocation(const std::string &location);
    virtual const std::string &GetLocation() const;

    virtual void WriteU8String(const std::string &key, const U8String &value) = 0;
    virtual void WriteStdString(const std::string &key, const std::string &value) = 0;
    virtual void WriteString(const std::string &key, const std::wstring &value) = 0;
    virtual void WriteUnsignedLong(const std::string &key, unsigned long value) = 0;
    virtual void WriteLong(const std::string &key, long value) = 0;
    virtual void WriteUnsigned(const std::string &key, unsigned int value) = 0;
    virtual void WriteInt(const std::string &key, int value) = 0;
    virtual void WriteFloat(const std::string &key, float value) = 0;
    virtual void WriteDouble(const std::string &key, double value) = 0;
    virtual void WriteBool(const std::string &key, bool value) = 0;

    virtual void WriteValue(const std::string &key, bool value);
    virtual void WriteValue(const std::string &key, float value);
    virtual void WriteValue(const std::string &key, double value);
    virtual void WriteValue(const std::string &key, unsigned long value);
    virtual void WriteValue(const std::string &key, long value);
    virtual void WriteValue(const std::string &key, unsigned int value);
    virtual void WriteValue(const std::string &key, int value);
    virtual void WriteValue(const std::string &key, const U8String &value);
    virtual void WriteValue(const std::string &key, const std::string &value);
    virtual void WriteValue(const std::string &key, wxString value);
    virtual void WriteValue(const std::string &key, const std::wstring &value);
    // A C text would otherwise silently pick the bool member.
    void WriteValue(const std::string &key, const char *value) = delete;
    void WriteValue(const std::string &key, const wchar_t *value) = delete;

    virtual U8String ReadU8String(const std::string &key, const U8String &defaultValue) = 0;
    virtual std::wstring ReadString(const std::string &key, const std::wstring &defaultValue) = 0;
    virtual std::string ReadStdString(const std::string &key, const std::string &defaultValue) = 0;
    virtual unsigned long ReadUnsignedLong(const std::string &key, unsigned long defaultValue) = 0;
    virtual long ReadLong(const std::string &key, long defaultValue) = 0;
    virtual unsigned int ReadUnsigned(const std::string &key, unsigned int defaultValue) = 0;
    virtual int ReadInt(const std::string &key, int defaultValue) = 0;
    virtual double ReadDouble(const std::string &key, double defaultValue) = 0;
    virtual float ReadFloat(const std::string &key, float defaultValue) = 0;
    virtual bool ReadBool(const std::string &key, bool defaultValue) = 0;

    virtual bool ReadValue(const std::string &key, bool defaultValue);
    virtual double ReadValue(const std::string &key, double defaultValue);
    virtual float ReadValue(const std::string &key, float defaultValue);
    virtual unsigned long ReadValue(const std::string &key, unsigned long defaultValue);
    virtual long ReadValue(const std::string &key, long defaultValue);
    virtual unsigned int ReadValue(const std::string &key, unsigned int defaultValue);
    virtual int ReadValue(const std::string &key, int defaultValue);
    virtual U8String ReadValue(const std::string &key, const U8String &defaultValue);
    // Reads with the text's current value as default, stores the result in it and returns it.
    virtual std::wstring ReadValue(const std::string &key, wxString &value);
    virtual std::wstring ReadValue(const std::string &key, const std::wstring &defaultValue);
    virtual std::string ReadValue(const std::string &key, const std::string &defaultValue);
    bool ReadValue(const std::string &key, const char *defaultValue) = delete;
    bool ReadValue(const std::string &key, const wchar_t *defaultValue) = delete;

    virtual void PushTable(const std::string &table);
    // Closes the innermost table; nothing when none is open.
    virtual void PopTable();
    virtual void Open();
    // Only the outermost Close closes; at count 0 nothing changes.
    virtual void Close();

    bool IsOpen() const { return mOpenCount != 0; }
    // False when the store exists but cannot be read.
    virtual bool IsReadable() const { return true; }
    // True once a write was refused by the store; the saving object reports it.
    bool HasWriteFailed() const { return mWriteFailed; }

protected:
    void NoteWriteFailure() { mWriteFailed = true; }

    std::string mLocation;
    std::deque<std::wstring> mTableStack;
    DWORD mOpenCount = 0;

private:
    bool mWriteFailed = false;
};

class TableFullPathProgramSettingsDatabase : public ProgramSettingsDatabase {
public:
    using ProgramSettingsDatabase::ProgramSettingsDatabase;

    void PushTable(const std::string &table) override;
    void PopTable() override;

    // The open tables joined by "."; empty while none is open.
    const std::wstring &GetTablePath() const { return mTablePath; }

protected:
    std::wstring mTablePath;
};

class INIProgramSettingsDatabase : public TableFullPathProgramSettingsDatabase {
public:
    // fileName is used as given; a name without a directory is relative to the current directory.
    explicit INIProgramSettingsDatabase(std::string fileName);
    ~INIProgramSettingsDatabase() override;

    void WriteU8String(const std::string &key, const U8String &value) override;
    void WriteStdString(const std::string &key, const std::string &value) override;
    // Line breaks in the value become blanks, so that the file keeps one line per key.
    void WriteString(const std::string &key, const std::wstring &value) override;
    void WriteUnsignedLong(const std::string &key, unsigned long value) override;
    void WriteLong(const std::string &key, long value) override;
    void WriteUnsigned(const std::string &key, unsigned int value) override;
    void WriteInt(const std::string &key, int value) override;
    void WriteFloat(const std::string &key, float value) override;
    void WriteDouble(const std::string &key, double value) override;
    void WriteBool(const std::string &key, bool value) override;

    U8String ReadU8String(const std::string &key, const U8String &defaultValue) override;
    std::wstring ReadString(const std::string &key, const std::wstring &defaultValue) override;
    std::string ReadStdString(const std::string &key, const std::string &defaultValue) override;
    unsigned long ReadUnsignedLong(const std::string &key, unsigned long defaultValue) override;
    long ReadLong(const std::string &key, long defaultValue) override;
    unsigned int ReadUnsigned(const std::string &key, unsigned int defaultValue) override;
    int ReadInt(const std::string &key, int defaultValue) override;
    double ReadDouble(const std::string &key, double defaultValue) override;
    float ReadFloat(const std::string &key, float defaultValue) override;
    bool ReadBool(const std::string &key, bool defaultValue) override;

    // False for a file that exists but is not read (no regular file, too large, not readable).
    bool IsReadable() const override;

    // Characters the read buffer holds now (it starts at InitialReadSize and only grows).
    uint32_t GetReadBufferCapacity() const { return mReadBufferCapacity; }

    static constexpr uint32_t InitialReadSize = 50;

private:
    void EnsureReadBuffer(uint32_t size);

    std::unique_ptr<wchar_t[]> mReadBuffer;
    uint32_t mReadBufferCapacity = 0;
};

// The texts that the INI store would write, kept in memory as written (sections and keys compared
// without regard to ASCII case): settings saved into it load back as they were saved.
class MemoryProgramSettingsDatabase : public INIProgramSettingsDatabase {
public:
    MemoryProgramSettingsDatabase();
    ~MemoryProgramSettingsDatabase() override;

    void WriteString(const std::string &key, const std::wstring &value) override;
    std::wstring ReadString(const std::string &key, const std::wstring &defaultValue) override;
    bool IsReadable() const override { return true; }

private:
    std::pair<std::wstring, std::wstring> Address(const std::string &key) const;

    std::map<std::pair<std::wstring, std::wstring>, std::wstring> mValues;
};

std::shared_ptr<ProgramSettingsDatabase> CreateINIProgramSettingsDatabase(const std::string &fileName);
