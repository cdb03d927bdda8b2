// The GPIB stream kinds. "GPIB" (NIGPIBDeviceStream) drives an NI4882MGPIB; "CompliantGPIB"
// (NI4882CompliantGPIBDeviceStream) drives an NI4882CompliantGPIB and leaves the operation-complete
// wait to its service requests. The terminations become the device's end-of-string settings, the
// time-out its NI-488.2 time-out code, Lock the bus lock after the stream's named lock
// "Global\KORVALIS:DS:GPIB:b,p,s" (both kinds name it alike, so they exclude each other on one
// instrument while LessThan keeps them two streams).
//
// Each configuration is also an NI488GPIBConfiguration (board, addresses, Wait, Clear, Readdress);
// the first real Connect makes the driver from it, and the driver stays for later connects.
#pragma once

#include <memory>
#include <string>

#include "gpib/NI4882MGPIB.h"
#include "gpib/NI488GPIBConfiguration.h"
#include "streams/DeviceStreamConfiguration.h"

inline constexpr const char *GPIBStreamKind = "GPIB";
inline constexpr const char *CompliantGPIBStreamKind = "CompliantGPIB";

class NIGPIBDeviceStream : public WriteReadDeviceStream {
public:
    NIGPIBDeviceStream();
    ~NIGPIBDeviceStream() override;

    DWORD SetWriteTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) override;
    DWORD SetReadTermination(HostWindow hWnd, const std::string &sTermination, bool bEnabled) override;
    // A time-out that is not IsUsableTimeout is refused with CouldNotSetValue and changes nothing.
    DWORD SetTimeout(HostWindow hWnd, double dSeconds) override;
    // The larger of the stream's delay and the driver's Wait.
    DWORD GetMinimumDelay() override;
    void SetMinimumDelay(DWORD dwMicroseconds) override;
    DWORD Connect(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration,
                  DeviceStreamClient *clientEntry) override;
    DWORD Disconnect(HostWindow hWnd, DeviceStreamClient *clientEntry) override;
    // The named lock, then the bus lock; a failed bus lock gives the named lock back.
    DWORD Lock(HostWindow hWnd, double dSeconds) override;
    DWORD Unlock(HostWindow hWnd) override;
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    // Pieces until count bytes, the read termination, END (termination off) or the time-out; a
    // device that does not answer in time fails the read (GPIBResult::TimeOut; CompliantGPIB:
    // GPIBResult::NoServiceRequest), also after part of a reply.
    DWORD Read(HostWindow hWnd, std::string &sResponse, DWORD dwCount) override;
    // Drops what a read left in the device (the rest of a message cut at the count, a reply that
    // came late) by the driver's DiscardOutput; nothing when none was left.
    DWORD ClearInputBuffers(HostWindow hWnd) override;
    DWORD ClearOutputBuffers(HostWindow hWnd) override;
    // Device clear; 0 without a driver.
    DWORD ClearDevice(HostWindow hWnd) override;

    // A new driver with the configuration's settings; a configuration of the wrong kind leaves
    // no driver behind.
    virtual DWORD ConfigureDriver(HostWindow hWnd, std::shared_ptr<DeviceStreamConfiguration> configuration);
    virtual NI488GPIB *CreateDriver();
    virtual DWORD VerifyConfiguration(HostWindow hWnd,
                                      std::shared_ptr<DeviceStreamConfiguration> configuration);
    // The EOS character and mode of the next open: the read termination's last character, mode
    // 4, plus 1 while the read termination is on.
    virtual DWORD ApplyEndOfStringSettings(HostWindow hWnd);
    virtual DWORD ConfigureReadEndOfString(HostWindow hWnd);
    virtual DWORD ConfigureWriteEnd(HostWindow hWnd);
    // One read of up to count bytes; bEnded tells whether END (or EOS) ended it.
    virtual DWORD ReadPiece(HostWindow hWnd, std::string &sPiece, DWORD dwCount, bool &bEnded);

    NI488GPIB *GetDriver() const { return mDriver.get(); }

protected:
    // Takes ownership; null drops the driver.
    virtual void SetDriver(NI488GPIB *driver);
    // Connected with a driver: writes and reads of a stream whose connect failed answer
    // StreamNotConnected and send nothing (the driver answers 0 on a closed device).
    bool IsDeviceOpen();

private:
    std::unique_ptr<NI488GPIB> mDriver;
    bool mbOutputLeft = false; // a read left output in the device
};

class NI4882CompliantGPIBDeviceStream : public NIGPIBDeviceStream {
public:
    NI4882CompliantGPIBDeviceStream();

    // The driver waits for operation complete by service request: no "*OPC?" is added here.
    DWORD Write(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC) override;
    NI488GPIB *CreateDriver() override;
    DWORD VerifyConfiguration(HostWindow hWnd,
                              std::shared_ptr<DeviceStreamConfiguration> configuration) override;
    DWORD ReadPiece(HostWindow hWnd, std::string &sPiece, DWORD dwCount, bool &bEnded) override;
    virtual DWORD WriteAndRead(HostWindow hWnd, const std::string &sCommand, bool bWaitForOPC,
                               std::string &sResponse, DWORD dwCount);

    NI4882CompliantGPIB *GetCompliantDriver() const { return mCompliantDriver; }

protected:
    void SetDriver(NI488GPIB *driver) override;

private:
    NI4882CompliantGPIB *mCompliantDriver = nullptr; // the driver, by its own type
};

class NIGPIBDeviceStreamConfiguration : public DeviceStreamConfiguration, public NI488GPIBConfiguration {
public:
    // Board 0, primary address 1, no secondary address, Wait 0.
    NIGPIBDeviceStreamConfiguration();

    // The group "GPIB" below the database's current table.
    DWORD LoadProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD SaveProgramSettings(std::shared_ptr<ProgramSettingsDatabase> &database) override;
    DWORD ShowConfigurationDialog(HostWindow hWnd, const std::wstring &sTitle) override;
    // The page "GPIBConfiguration" titled with the kind id.
    DWORD AddConfigurationDialogPanels(HostWindow hWnd, PanelResourceNameList &panels) override;
    // By kind, then board, primary and secondary address, Wait, Clear, Readdress.
    bool LessThan(std::shared_ptr<DeviceStreamConfiguration> other) override;
    std::string GetIdentifier() override;
    bool IsValid() override;
    // The GPIB layer's codes: the driver's texts with this address.
    std::string GetErrorText(DWORD dwCode) override;

    using NI488GPIBConfiguration::GetIdentifier;
    using NI488GPIBConfiguration::IsValid;
    using NI488GPIBConfiguration::LoadProgramSettings;
    using NI488GPIBConfiguration::SaveProgramSettings;

protected:
    explicit NIGPIBDeviceStreamConfiguration(const std::string &sKindId);
};

class NICompliantGPIBDeviceStreamConfiguration : public NIGPIBDeviceStreamConfiguration {
public:
    NICompliantGPIBDeviceStreamConfiguration();
};

WriteReadDeviceStream *CreateNIGPIBDeviceStream();
WriteReadDeviceStream *CreateNI4882CompliantGPIBDeviceStream();
DeviceStreamConfiguration *CreateNIGPIBDeviceStreamConfiguration();
DeviceStreamConfiguration *CreateNICompliantGPIBDeviceStreamConfiguration();
