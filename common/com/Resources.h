// com/Resources.h - all RAII owners in one include: UniqueBstr, UniqueVariant, UniqueSafeArray,
// CriticalSection/CsLock, UniqueHandle, CoTaskMem, ScopeExit, ComInitializer, HGlobalStream,
// MarshalledStream.
#pragma once

#include "com/Bstr.h"
#include "com/ComInit.h"
#include "com/Memory.h"
#include "com/SafeArray.h"
#include "com/ScopeExit.h"
#include "com/Stream.h"
#include "com/Sync.h"
#include "com/Variant.h"
