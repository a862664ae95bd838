// OPCGroups.h - COPCGroups, the OPCGroups collection of one server object: the defaults for new
// groups, the groups in creation order and the GlobalDataChange event.
//
// The server object owns the collection; the collection owns its groups. Each points back only
// weakly (cleared by Detach), so a client's release of the server object still ends it all.
#pragma once

#include <windows.h>

#include <vector>

#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"
#include "ScriptDispatch.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/HandleRegistry.h"
#include "com/Object.h"
#include "opc.h"
#include "opcautomation.h"

namespace vkauto {

class COPCAutoServer;
class COPCGroupImpl;
class EventArgs;

class COPCGroups : public com::Object<ScriptDual<IOPCGroups>, com::ConnectionPointContainer,
                                      com::SupportErrorInfo<IOPCGroups>> {
public:
    COPCGroups(COPCAutoServer* server, bool convertValues);

    STDMETHODIMP get_Parent(IOPCAutoServer** ppParent) override;
    STDMETHODIMP get_DefaultGroupIsActive(VARIANT_BOOL* value) override;
    STDMETHODIMP put_DefaultGroupIsActive(VARIANT_BOOL value) override;
    STDMETHODIMP get_DefaultGroupUpdateRate(LONG* value) override;
    STDMETHODIMP put_DefaultGroupUpdateRate(LONG value) override;
    STDMETHODIMP get_DefaultGroupDeadband(float* value) override;
    STDMETHODIMP put_DefaultGroupDeadband(float value) override;
    STDMETHODIMP get_DefaultGroupLocaleID(LONG* value) override;
    STDMETHODIMP put_DefaultGroupLocaleID(LONG value) override;
    STDMETHODIMP get_DefaultGroupTimeBias(LONG* value) override;
    STDMETHODIMP put_DefaultGroupTimeBias(LONG value) override;
    STDMETHODIMP get_Count(LONG* Count) override;
    STDMETHODIMP get__NewEnum(IUnknown** ppUnk) override;
    STDMETHODIMP Item(VARIANT ItemSpecifier, IOPCGroup** ppGroup) override;
    STDMETHODIMP Add(VARIANT Name, IOPCGroup** ppGroup) override;
    STDMETHODIMP GetOPCGroup(VARIANT ItemSpecifier, IOPCGroup** ppGroup) override;
    STDMETHODIMP RemoveAll() override;
    STDMETHODIMP Remove(VARIANT ItemSpecifier) override;
    STDMETHODIMP ConnectPublicGroup(BSTR Name, IOPCGroup** ppGroup) override;
    STDMETHODIMP RemovePublicGroup(VARIANT ItemSpecifier) override;

    // The server object goes: no parent, no groups.
    void Detach();
    // The OPC server of the parent; nullptr when disconnected or detached.
    IOPCServer* Server() const;
    // Fires GlobalDataChange with the arguments of a group's DataChange.
    void FireGlobalDataChange(EventArgs& args);

private:
    HRESULT Find(const VARIANT& specifier, bool byHandle, com::ComPtr<COPCGroupImpl>* group) const;
    HRESULT RemoveGroup(const com::ComPtr<COPCGroupImpl>& group);

    COPCAutoServer* server_;  // not counted; cleared by Detach
    const bool convertValues_;
    bool defaultActive_ = true;
    LONG defaultUpdateRate_ = 1000;
    float defaultDeadband_ = 0.0f;
    LONG defaultLocaleId_ = LOCALE_USER_DEFAULT;
    LONG defaultTimeBias_ = 0;
    std::vector<com::ComPtr<COPCGroupImpl>> groups_;
    // The groups' ServerHandles, given to the OPC server as group client handles.
    com::HandleRegistry<bool> handles_;
    com::ConnectionPoint* events_ = nullptr;
};

}  // namespace vkauto
