// Events.h - the dispatch events of the wrapper's objects. Arrays go to the sinks by reference
// (VT_BYREF|VT_ARRAY), as the published wrapper passes them, and lower bound 1.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"

namespace vkauto {

// The arguments of one event in declaration order. Arrays are owned here for the call.
class EventArgs {
public:
    EventArgs() = default;
    EventArgs(const EventArgs&) = delete;
    EventArgs& operator=(const EventArgs&) = delete;
    ~EventArgs();

    void Long(LONG value);
    void Text(BSTR borrowed);
    // Takes ownership of `array` (VT_ARRAY of `vt`); the sink gets it by reference.
    void Array(VARTYPE vt, SAFEARRAY* array);

    // Calls `id` on each sink in turn. A sink that fails or is gone does not keep the event from
    // the others.
    template <class Sink>
    void Fire(const com::ConnectionPoint& point, DISPID id) {
        for (auto& sink : point.Sinks<Sink>()) Invoke(sink.get(), id);
    }

private:
    void Invoke(IDispatch* sink, DISPID id);

    struct Arg {
        VARTYPE vt;
        LONG number;
        BSTR text;
        SAFEARRAY* array;  // owned
    };
    std::vector<Arg> args_;
};

}  // namespace vkauto
