#pragma once

#include <windows.h>

#include <atomic>

// Runs the interaction object's namespace check before an item ID that the model does
// not know gets a node of its own. The check makes the device and axis nodes; without
// them the model would put "Bus/DP_Slave3_/1/pari1000d18" into the deepest node there
// is, as a leaf named "DP_Slave3_/1/pari1000d18" beside the devices. Like a browser,
// a gate checks until the check reports the namespace as built, then never again.
class NameSpaceGate {
public:
    explicit NameSpaceGate(const CLSID& interaction) : interaction_(interaction) {}
    NameSpaceGate(const NameSpaceGate&) = delete;
    NameSpaceGate& operator=(const NameSpaceGate&) = delete;

    // A component without IOPCOVI_NameSpace has nothing to check; a failed check is
    // not an error for the item (its ID is resolved as it stands).
    void Pass() noexcept;

private:
    const CLSID interaction_;
    std::atomic<bool> checked_{false};
};
