// The typed base of drivers whose instrument covers a frequency range: the start and stop of the
// range either follow the driver's own defaults or are set by the user. The dialog that edits them
// is FrequencyLimitedDriverBaseDialog (Lib/ui).
#pragma once

#include "core/FrequencyBase.h"

class FrequencyLimitedDriverBase {
public:
    virtual ~FrequencyLimitedDriverBase() = default;

    bool GetUseDefaultStartFrequency() const { return mbUseDefaultStartFrequency; }
    void SetUseDefaultStartFrequency(bool bUseDefault) { mbUseDefaultStartFrequency = bUseDefault; }
    FrequencyBase<9> GetStartFrequency() const { return mStartFrequency; }
    void SetStartFrequency(const FrequencyBase<9> &frequency) { mStartFrequency = frequency; }

    bool GetUseDefaultStopFrequency() const { return mbUseDefaultStopFrequency; }
    void SetUseDefaultStopFrequency(bool bUseDefault) { mbUseDefaultStopFrequency = bUseDefault; }
    FrequencyBase<9> GetStopFrequency() const { return mStopFrequency; }
    void SetStopFrequency(const FrequencyBase<9> &frequency) { mStopFrequency = frequency; }

    // The instrument's own range, in MHz.
    virtual FrequencyBase<9> GetDefaultStartFrequency() const = 0;
    virtual FrequencyBase<9> GetDefaultStopFrequency() const = 0;

private:
    bool mbUseDefaultStartFrequency = true;
    FrequencyBase<9> mStartFrequency;
    bool mbUseDefaultStopFrequency = true;
    FrequencyBase<9> mStopFrequency;
};
