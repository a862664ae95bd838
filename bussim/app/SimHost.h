// Process-wide state of the simulator: the one bus that every client shares,
// how it was loaded, and the start time reported in the server status.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "AddressSpace.h"
#include "Bus.h"

namespace bussim {

class SimHost {
public:
    static SimHost& Get();

    // Loads the topology: the file given on the command line, else the one
    // named in the registry, else default.topology beside the program. A file
    // that cannot be read or parsed leaves an empty bus and the reason.
    void Load(const std::wstring& commandLinePath);

    Bus& bus() { return *bus_; }
    const AddressSpace& addressSpace() const { return *addressSpace_; }
    bool configured() const { return configured_; }
    const std::wstring& topologyPath() const { return path_; }
    const std::wstring& loadError() const { return error_; }
    FILETIME startTime() const { return startTime_; }

private:
    SimHost();

    std::unique_ptr<Bus> bus_;
    std::unique_ptr<AddressSpace> addressSpace_;
    bool configured_ = false;
    std::wstring path_;
    std::wstring error_;
    FILETIME startTime_{};
};

}  // namespace bussim
