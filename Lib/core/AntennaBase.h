// The typed base of antenna drivers: the antenna's efficiency (0 to 1), edited on the
// AntennaEfficiencyPanel page (Lib/ui).
#pragma once

class AntennaBase {
public:
    virtual ~AntennaBase() = default;

    double GetEfficiency() const { return mdEfficiency; }
    void SetEfficiency(double dEfficiency) { mdEfficiency = dEfficiency; }

private:
    double mdEfficiency = 1.0;
};
