// The collections a node hands out for its parameters and child objects: live
// views on the node's lists. The parameter collection also re-keys an entry
// when a parameter renames itself (VKModelCollectionReKey).
#pragma once

#include <windows.h>

#include "ModelNode.h"
#include "vkmodel.h"

namespace model {

HRESULT CreateModelCollection(CModelNode* owner, ListKind kind, VKModelCollection** out);

}  // namespace model
