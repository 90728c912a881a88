#pragma once
// Serial port discovery: which of the names COM1 to COM256 are present, in
// number order, for the Serial Port drop-down and a new service's port.
// Asking the system about one name is port::serial_port_present's.

#include <string>
#include <vector>

// The names probed are "COM1" to "COM<HIGHEST_PORT_NUMBER>"; a service may
// still name a port beyond them.
inline constexpr int HIGHEST_PORT_NUMBER = 256;

// Whether a serial port of that name is present; an empty name is none.
bool serialPortExists(const std::string& name);

// The first port present, probed anew; empty when there is none.
std::string firstSerialPort();

// The ports found by the last scan.
class SerialPortList {
public:
    // Probes every name again; false when none is present: the list is
    // then empty and the stale flag as it was.
    bool refresh();
    const std::vector<std::string>& names() const { return names_; }
    // True until a scan found ports, and again after markStale().
    bool stale() const { return stale_; }
    void markStale() { stale_ = true; }

private:
    std::vector<std::string> names_;
    bool stale_ = true;
};
