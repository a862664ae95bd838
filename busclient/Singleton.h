#pragma once
// The one connection object of the process, shared by every caller.

#include "com/Sync.h"

namespace vkopc {

class COPCInteraction;

// Held by creation and by the object's Release, so that creation never
// hands out an object whose last reference is going.
com::CriticalSection& SingletonLock();

// Called by the object when its last reference has gone.
void ForgetSingleton(COPCInteraction* object);

}  // namespace vkopc
