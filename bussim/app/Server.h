// The simulator's OPC server object: groups, status, error texts, locale and
// the browsable address space. One per client connection; all share the bus.
// The DA 1.0 face is the same object without browsing, properties, IOPCCommon
// and shutdown point, whose groups deliver through IDataObject streams.
#pragma once

#include <windows.h>

#include <opc.h>

#include <memory>
#include <string>
#include <vector>

#include "SimGroup.h"
#include "AddressSpace.h"
#include "com/ConnectionPoint.h"
#include "com/Object.h"
#include "com/Sync.h"

namespace bussim {

class COPCBusServer : public com::Object<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace,
                                         IOPCItemProperties, com::ConnectionPointContainer> {
    using Base = com::Object<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace,
                             IOPCItemProperties, com::ConnectionPointContainer>;

public:
    // Every client gets a server object of its own.
    explicit COPCBusServer(Face face = Face::kDa20);

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                          OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                          DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                          REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    STDMETHODIMP GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    STDMETHODIMP RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                       LPUNKNOWN* ppUnk) override;

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID dwLcid) override;
    STDMETHODIMP GetLocaleID(LCID* pdwLcid) override;
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    STDMETHODIMP GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    STDMETHODIMP SetClientName(LPCWSTR szName) override;

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                      LPCWSTR szString) override;
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                  VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                  LPENUMSTRING* ppIEnumString) override;
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    STDMETHODIMP BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions,
                                          VARTYPE** ppvtDataTypes) override;
    STDMETHODIMP GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                   VARIANT** ppvData, HRESULT** ppErrors) override;
    STDMETHODIMP LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                               LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

protected:
    void FinalRelease() override;
    void* FindInterface(REFIID riid) noexcept override;

private:
    const Face face_;
    com::ConnectionPoint* shutdown_ = nullptr;  // DA 2.0 only
    const std::shared_ptr<GroupTable> groups_;
    com::CriticalSection lock_;  // guards the members below
    LCID lcid_ = 0x409;
    std::wstring clientName_;
    AddressSpace::Position position_;  // browse position
};

class COPCBusServerDA1 final : public COPCBusServer {
public:
    COPCBusServerDA1() : COPCBusServer(Face::kDa10) {}
};

// Sends a shutdown request with `reason` to the clients of every server object of the process.
void RequestShutdownOfAll(const std::string& reason);

// The text of a result code: OPC and simulator codes, then the system's.
HRESULT ErrorText(HRESULT error, std::wstring* text);

}  // namespace bussim
