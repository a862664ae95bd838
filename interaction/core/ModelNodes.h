// Find-or-create on the object model. Identification makes its nodes and
// parameters this way, so that a device found again, a loaded configuration or an
// item created before the check is reused, not refused.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com/ComPtr.h"
#include "vkmodel.h"

namespace orvane::interaction {

// The child object `name` of `parent`, created when missing. E_FAIL when a
// parameter holds the name.
HRESULT FindOrCreateObject(VKModelObject* parent, const std::wstring& name,
                           com::ComPtr<VKModelObject>* node);
// The parameter `name` of `node`, created when missing.
HRESULT FindOrCreateParameter(VKModelObject* node, const std::wstring& name,
                              com::ComPtr<VKModelParameter>* parameter);
// The parameter `name` of `node`; S_FALSE (and no parameter) when there is none.
HRESULT FindParameterIn(VKModelObject* node, const std::wstring& name,
                        com::ComPtr<VKModelParameter>* parameter);

// The node at `path` below `root`; S_FALSE (and no node) when there is none.
HRESULT FindObjectIn(VKModelObject* root, const std::wstring& path,
                     com::ComPtr<VKModelObject>* node);

// Init (access path, rights, type, value as default), optionally hidden, and the
// value set unless `value` is VT_EMPTY.
HRESULT SetUpParameter(VKModelParameter* parameter, const std::wstring& accessPath, long rights,
                       VARTYPE type, const VARIANT& value, bool hidden);

std::wstring AccessPathOf(VKModelObject* node);
std::wstring AccessPathOf(VKModelParameter* parameter);
std::wstring PathOf(VKModelParameter* parameter);
std::wstring NameOf(VKModelObject* node);

// The value of parameter `name` of `node`.
HRESULT ParameterValueIn(VKModelObject* node, const std::wstring& name, VARIANT* value);

}  // namespace orvane::interaction
