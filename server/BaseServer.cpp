#include "BaseServer.h"

#include <vector>

#include "GroupNames.h"
#include "OPCGroup.h"
#include "com/Enum.h"
#include "com/Result.h"

namespace {

enum class Scope { kPrivate, kPublic, kAll, kInvalid };

Scope ScopeOf(OPCENUMSCOPE scope) {
    switch (scope) {
        case OPC_ENUM_PRIVATE_CONNECTIONS:
        case OPC_ENUM_PRIVATE: return Scope::kPrivate;
        case OPC_ENUM_PUBLIC_CONNECTIONS:
        case OPC_ENUM_PUBLIC: return Scope::kPublic;
        case OPC_ENUM_ALL_CONNECTIONS:
        case OPC_ENUM_ALL: return Scope::kAll;
        default: return Scope::kInvalid;
    }
}

COPCGroup* GroupOf(IUnknown* unknown) { return com::ImplementationOf<COPCGroup>(unknown); }

}  // namespace

CBaseServer::CBaseServer(com::ComPtr<CUnknownCont> groups, com::ComPtr<VKModelObject> model,
                         DWORD tick, bool groupTimers)
    : groups_(std::move(groups)),
      model_(std::move(model)),
      tick_(tick),
      groupTimers_(groupTimers) {}

bool CBaseServer::closed() const {
    com::CsLock guard(lock_);
    return closed_;
}

DWORD CBaseServer::GroupCount() const { return static_cast<DWORD>(groups_->Count()); }

HRESULT CBaseServer::NameForNewGroup(LPCWSTR szName, std::wstring* name) const {
    if (*szName) {
        if (groups_->ContainsKey(ContainerKey(szName))) return OPC_E_DUPLICATENAME;
        *name = szName;
        return S_OK;
    }
    // Counting on from the number of groups finds a free name soon even after removals.
    for (unsigned number = static_cast<unsigned>(groups_->Count());; ++number) {
        std::wstring candidate = GeneratedGroupName(number);
        if (!groups_->ContainsKey(ContainerKey(candidate.c_str()))) {
            *name = std::move(candidate);
            return S_OK;
        }
    }
}

HRESULT CBaseServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                              OPCHANDLE hClientGroup, const LONG* pTimeBias,
                              const FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                              DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) {
    RETURN_IF_NULL_POINTER(szName);
    RETURN_HR_IF(E_INVALIDARG, !phServerGroup || !pRevisedUpdateRate || !ppUnk);
    *phServerGroup = 0;
    *ppUnk = nullptr;

    com::ComPtr<COPCGroup> group;
    DWORD handle = 0;
    HRESULT stateResult = S_OK;
    {
        com::CsLock guard(lock_);
        RETURN_HR_IF(E_FAIL, closed_);
        std::wstring name;
        RETURN_IF_FAILED(NameForNewGroup(szName, &name));
        RETURN_IF_FAILED(com::MakeObject(&group));
        group->SetOwner(shared_from_this());
        RETURN_IF_FAILED(RenameGroup(group.get(), name.c_str()));
        const BOOL active = bActive ? TRUE : FALSE;
        stateResult = group->SetState(&dwRequestedUpdateRate, pRevisedUpdateRate, &active,
                                      pTimeBias, pPercentDeadband, &dwLCID, &hClientGroup);
        RETURN_IF_FAILED(stateResult);
        RETURN_IF_FAILED(
            groups_->Add(ContainerKey(name.c_str()), group->GetControllingUnknown(), &handle));
        group->SetServerHandle(handle);
        group->SetModel(model_);
        group->SetAsyncMode(asyncMode_);
    }
    // Without its thread the group still serves its items synchronously.
    group->StartThread();

    const HRESULT query = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(query)) {
        group->StopThread(COPCGroup::kStopWaitMs);
        groups_->RemoveByHandle(handle);
        return query;
    }
    *phServerGroup = handle;
    return stateResult;
}

HRESULT CBaseServer::RenameGroup(COPCGroup* group, LPCWSTR newName) {
    com::CsLock guard(lock_);
    RETURN_HR_IF(E_FAIL, closed_);
    const std::string newKey = ContainerKey(newName);
    RETURN_HR_IF(OPC_E_DUPLICATENAME, groups_->ContainsKey(newKey));
    const std::wstring oldName = group->name();
    if (!oldName.empty())
        RETURN_HR_IF(E_FAIL, !groups_->Rekey(ContainerKey(oldName.c_str()), newKey));
    group->StoreName(newName);
    return S_OK;
}

HRESULT CBaseServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    RETURN_IF_NULL_POINTER(ppUnk);
    *ppUnk = nullptr;
    RETURN_HR_IF(E_INVALIDARG, !szName);
    CUnknownCont::Element found;
    if (!groups_->FindByKey(ContainerKey(szName), &found)) {
        // Names that share a key with another group are found by their exact text.
        for (const auto& element : groups_->Snapshot()) {
            COPCGroup* group = GroupOf(element.object.get());
            if (group && group->name() == szName) {
                found = element;
                break;
            }
        }
    }
    RETURN_HR_IF(E_INVALIDARG, !found.object);
    return found.object->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT CBaseServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    CUnknownCont::Element found;
    {
        com::CsLock guard(lock_);
        RETURN_HR_IF(E_INVALIDARG, !groups_->FindByHandle(hServerGroup, &found));
        if (COPCGroup* group = GroupOf(found.object.get())) group->SetActiveInternal(FALSE);
        groups_->RemoveByHandle(hServerGroup);
    }
    // Outside the lock: the wait is bounded, but other clients' calls need not share it.
    if (COPCGroup* group = GroupOf(found.object.get())) group->StopThread(COPCGroup::kStopWaitMs);
    if (bForce) {
        // Cuts the client's proxies off; their references are released by COM.
        CoDisconnectObject(found.object.get(), 0);
        found.object.reset();
        return S_OK;
    }
    const ULONG remaining = found.object.detach()->Release();
    return remaining > 0 ? OPC_S_INUSE : S_OK;
}

HRESULT CBaseServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
    RETURN_IF_NULL_POINTER(ppUnk);
    *ppUnk = nullptr;
    const Scope scope = ScopeOf(dwScope);
    RETURN_HR_IF(E_INVALIDARG, scope == Scope::kInvalid);
    // Public groups are not offered: public scopes see none.
    std::vector<CUnknownCont::Element> groups;
    if (scope != Scope::kPublic) groups = groups_->Snapshot();
    if (groups.empty()) return S_FALSE;

    if (riid == IID_IEnumUnknown) {
        std::vector<com::ComPtr<IUnknown>> items;
        for (auto& element : groups) items.push_back(std::move(element.object));
        return com::CreateEnumUnknown(std::move(items), reinterpret_cast<IEnumUnknown**>(ppUnk));
    }
    if (riid == IID_IEnumString) {
        std::vector<std::wstring> names;
        for (const auto& element : groups) {
            if (COPCGroup* group = GroupOf(element.object.get())) names.push_back(group->name());
        }
        return com::CreateEnumString(std::move(names), reinterpret_cast<IEnumString**>(ppUnk));
    }
    return E_NOINTERFACE;
}

// The groups' threads go first: each holds its group (through the services object),
// so a group left in the container would keep itself, its thread and the process alive.
void CBaseServer::Close() {
    {
        com::CsLock guard(lock_);
        closed_ = true;
    }
    const std::vector<CUnknownCont::Element> groups = groups_->Snapshot();
    for (const auto& element : groups) {
        if (COPCGroup* group = GroupOf(element.object.get())) group->StopThread(0);
    }
    const ULONGLONG deadline = GetTickCount64() + COPCGroup::kStopWaitMs;
    for (const auto& element : groups) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (COPCGroup* group = GroupOf(element.object.get())) group->StopThread(left);
    }
    groups_->Clear();
}
