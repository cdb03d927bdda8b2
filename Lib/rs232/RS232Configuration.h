// RS232Configuration: the settings of one serial port (port number, line parameters, handshake
// flags, sharing, which line parameters the user may edit, the implementation that opens it) and
// the stepping of the four line-parameter enumerations. The port driver derives from it; the
// legacy settings conversion and the RS-232 stream configuration copy it. Only the port number,
// the four line parameters and the implementation are stored, in the table "RS232".
#pragma once

#include <memory>
#include <set>
#include <string>

#include "core/EnumClass.h"
#include "core/SavableLoadableClass.h"
#include "platform/HostTypes.h"

// The next declared value (one past the largest after the last); the old value is returned.
BaudRate operator++(BaudRate &value, int);
DataBits operator++(DataBits &value, int);
Parity operator++(Parity &value, int);
StopBits operator++(StopBits &value, int);

class RS232Configuration : public SaveLoadConfigurationConvertor {
public:
    // Implementation values: 1 the serial API; anything else VISA when it loads, else the serial API.
    static constexpr int ImplementationSerialApi = 1;
    static constexpr int ImplementationVisaWhenAvailable = 0;
    static constexpr int MinimumCOMPort = 1;
    static constexpr int MaximumCOMPort = 65534;

    RS232Configuration();
    RS232Configuration(const RS232Configuration &other);
    RS232Configuration &operator=(const RS232Configuration &other) = default;
    ~RS232Configuration() override;

    using SaveLoadConfigurationConvertor::LoadProgramSettings;
    using SaveLoadConfigurationConvertor::SaveProgramSettings;
    // The table "RS232" below the parent path; the window is not used. Always 0.
    virtual DWORD LoadProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database,
                                      const std::string &sParentPath);
    virtual DWORD SaveProgramSettings(HostWindow hWnd, std::shared_ptr<ProgramSettingsDatabase> &database,
                                      const std::string &sParentPath);

    virtual void SetRTSEnable(bool bEnable);
    virtual bool GetRTSEnable() const;
    virtual bool GetXonXoffFlowControl() const;
    virtual void SetXonXoffFlowControl(bool bEnable);
    virtual void SetRTSAroundWrite(bool bEnable);
    virtual bool GetRTSAroundWrite() const;
    virtual void SetNewLineReturnIsEndOfString(bool bEnable);
    virtual bool GetNewLineReturnIsEndOfString() const;
    virtual void SetCOMPort(int nPort);
    virtual DWORD SetCOMPort(unsigned char nPort);
    virtual int GetCOMPort() const;
    virtual Parity GetParity() const;
    virtual void SetParity(Parity eParity);
    virtual BaudRate GetBaudRate() const;
    virtual void SetBaudRate(BaudRate eBaudRate);
    virtual DataBits GetDataBits() const;
    virtual void SetDataBits(DataBits eDataBits);
    virtual StopBits GetStopBits() const;
    virtual void SetStopBits(StopBits eStopBits);
    // 1 <= COMPort <= 65534.
    virtual bool IsValid() const;

    bool GetCOMPortSharing() const { return mbCOMPortSharing; }
    void SetCOMPortSharing(bool bSharing) { mbCOMPortSharing = bSharing; }
    bool GetParityEditable() const { return mbParityEditable; }
    bool GetDataBitsEditable() const { return mbDataBitsEditable; }
    bool GetBaudRateEditable() const { return mbBaudRateEditable; }
    bool GetStopBitsEditable() const { return mbStopBitsEditable; }
    int GetImplementation() const { return mnImplementation; }
    void SetImplementation(int nImplementation) { mnImplementation = nImplementation; }
    std::set<BaudRate> GetAllowedBaudRates() const { return mAllowedBaudRates; }

    // Port, line parameters, RTS enable, XON/XOFF and sharing equal.
    bool IsSameConfiguration(const RS232Configuration &other) const;
    // Adds every declared rate within [min, max].
    void FillAllowedBaudRates(BaudRate eMinimum, BaudRate eMaximum);

protected:
    int mnCOMPort = 1;
    bool mbRTSEnable = false;
    bool mbXonXoffFlowControl = false;
    bool mbRTSAroundWrite = true;
    Parity meParity = None;
    DataBits meDataBits = Data8;
    BaudRate meBaudRate = Br19200;
    StopBits meStopBits = Stop1;
    bool mbCOMPortSharing = false;
    bool mbParityEditable = false;
    bool mbDataBitsEditable = false;
    bool mbBaudRateEditable = false;
    bool mbStopBitsEditable = false;
    std::set<BaudRate> mAllowedBaudRates;
    int mnImplementation = ImplementationVisaWhenAvailable;
    bool mbNewLineReturnIsEndOfString = true;
};
