// RS232DeviceDriver: a port configuration that can open its port, read, write, wait for input
// with a deadline and show its settings page. The open state of a port lives in a run-time object
// kept in the process-wide registry SharedRS232Ports under the port number, so that drivers with
// equal settings and sharing on use one open port, each counted once; the last user's close
// closes the port and drops the entry. A port's first open and last close run outside the
// registry's lock, so other ports go ahead; the port's next opener waits for them.
// RS232SharedDeviceDriver is the driver with sharing on.
#pragma once

#include <string>

#include <wx/string.h>

#include "core/PanelResourceName.h"
#include "rs232/RS232Configuration.h"
#include "rs232/RS232RunTimeData.h"

class RS232DeviceDriver : public RS232Configuration {
public:
    // Text ids of the language resources at base 574: the port text; each own code's text has
    // the code as its id.
    static constexpr DWORD LanguageBase = 574;
    static constexpr DWORD PortTextId = 1;
    // The pause after a successful open, in milliseconds.
    static constexpr uint32_t OpenSettleTime = 50;

    RS232DeviceDriver();
    RS232DeviceDriver(const RS232DeviceDriver &) = delete;
    RS232DeviceDriver &operator=(const RS232DeviceDriver &) = delete;
    // Closes the port when this driver holds it open.
    ~RS232DeviceDriver() override;

    virtual DWORD Open(BaudRate eBaudRate, Parity eParity, DataBits eDataBits, StopBits eStopBits);
    // Drops this driver's use; the last use closes the port. Always 0.
    virtual DWORD Close();
    virtual DWORD Lock(double dSeconds);
    virtual DWORD Unlock();
    virtual DWORD Read(std::string &sText, DWORD dwCount);
    // The buffer holds count + 1 bytes: at most count bytes and a terminating 0.
    virtual DWORD Read(char *pBuffer, DWORD dwCount, DWORD *pdwReadCount);
    virtual DWORD Write(const std::string &sText);
    // Reports the bytes the port took.
    virtual DWORD Write(const char *pData, DWORD dwLength, DWORD *pdwWrittenCount);
    // Up to vlCount bytes within the time, ending early at msReceiveString or, with
    // NewLineReturnIsEndOfString, at a piece that ends in LF or CR. The deadline is no error.
    virtual DWORD OptimizedRead(std::string &sText, DWORD vlCount, DWORD dwTimeoutMilliseconds,
                                const std::string &msReceiveString);
    // The settings page as a dialog ("RS232Configuration").
    virtual int CreateConfigurationPanel(HostWindow hParent, const wxString &title);
    // The settings page as a tab "RS232".
    virtual void AddConfigurationPanel(PanelResourceNameList &panels);
    virtual DWORD GetErrorString(HostWindow hWnd, DWORD dwCode, char *pBuffer, uint32_t dwSize,
                                 uint32_t *pdwLength);
    // The language library's text of the code with the port text of the port; the hang-up's
    // (1117) is the driver's own. Without the library: the load failure text for a code of
    // RS232Result::HasPortText, a shared stream code's own text, else none.
    static std::string LanguageErrorText(DWORD dwCode, int nCOMPort);

    DWORD ClearInBuffer();
    DWORD ClearOutBuffer();
    DWORD SetReadTermination(const std::string &sTermination);
    DWORD ApplyNewLineTermination();
    DWORD WaitCommEvent(DWORD dwTimeout, DWORD &dwAvailable);
    // Bytes waiting in the port's input; 0 without a run-time object.
    DWORD GetInputQueueCount();
    DWORD SetTimeout(DWORD dwMilliseconds);
    void ClearLastError();
    bool IsRunTimeDataOpen() const;

    // The run-time object of the registry for the port; null when it holds none.
    static RS232RunTimeData *FindSharedRunTimeData(int nCOMPort);
    // Whether the VISA library loads; asked once per process.
    static bool IsVISAAvailable();

protected:
    RS232RunTimeData *GetSharedRunTimeData();
    void RemoveSharedRunTimeData();
    RS232RunTimeData *CreateRunTimeDataObject();

    RS232RunTimeData *mpRunTimeData = nullptr;

private:
    // What a forwarding call answers without a run-time object: the closed port's code after an
    // open that failed, else NoRunTimeData.
    DWORD ClosedResult() const {
        return mbOpenFailed ? RS232Result::PortNotOpen : RS232Result::NoRunTimeData;
    }

    // Whether mpRunTimeData carries one counted use, and the registry key it was taken under.
    bool mbCountedUse = false;
    int mnOpenedPort = 0;
    bool mbOpenFailed = false;
};

class RS232SharedDeviceDriver : public RS232DeviceDriver {
public:
    RS232SharedDeviceDriver();
};
