// com/CategoryClasses.h - the classes registered in component categories, as the standard
// component-categories manager lists them, with their ProgIDs.
//
//   std::vector<com::CategoryClass> servers;
//   RETURN_IF_FAILED(com::ListCategoryClasses({CATID_OPCDAServer20}, &servers));
#pragma once

#include <windows.h>
#include <comcat.h>

#include <string>
#include <vector>

namespace com {

struct CategoryClass {
    CLSID clsid = CLSID_NULL;
    std::wstring progId;    // ProgIDFromCLSID; empty when the class has none
    std::wstring userType;  // OleRegGetUserType (full); empty when there is none
};

// Every class that implements at least one of the categories, each once, in the manager's
// order, category by category. No category gives an empty list without asking the manager.
HRESULT ListCategoryClasses(const std::vector<CATID>& categories, std::vector<CategoryClass>* out);

}  // namespace com
