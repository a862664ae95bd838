// OPCAutoServer.h - COPCAutoServer, the OPCServer object of the automation wrapper: server
// enumeration, connecting to one OPC DA server, its status, locale, client name and error
// texts.
//
// Ownership: the client holds this object; it holds the OPC server. What the OPC server holds
// of ours (the IOPCShutdown sink) points back only weakly, so releasing this object without
// Disconnect still disconnects it and lets the OPC server end. Groups, items and browsers of
// later work follow the same rule: children hold their parent weakly.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ServerList.h"
#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"
#include "ScriptDispatch.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "opc.h"
#include "opcautomation.h"

namespace vkauto {

class CShutdownSink;
class COPCGroups;
class COPCBrowserImpl;

class COPCAutoServer : public com::Object<ScriptDual<IOPCAutoServer>, com::ConnectionPointContainer,
                                          com::SupportErrorInfo<IOPCAutoServer>> {
public:
    COPCAutoServer();
    ~COPCAutoServer() override;

    // Status, one GetStatus per call.
    STDMETHODIMP get_StartTime(DATE* StartTime) override;
    STDMETHODIMP get_CurrentTime(DATE* CurrentTime) override;
    STDMETHODIMP get_LastUpdateTime(DATE* LastUpdateTime) override;
    STDMETHODIMP get_MajorVersion(short* MajorVersion) override;
    STDMETHODIMP get_MinorVersion(short* MinorVersion) override;
    STDMETHODIMP get_BuildNumber(short* BuildNumber) override;
    STDMETHODIMP get_VendorInfo(BSTR* VendorInfo) override;
    STDMETHODIMP get_ServerState(LONG* ServerState) override;
    STDMETHODIMP get_Bandwidth(LONG* Bandwidth) override;

    STDMETHODIMP get_ServerName(BSTR* ServerName) override;
    STDMETHODIMP get_ServerNode(BSTR* ServerNode) override;
    STDMETHODIMP get_ClientName(BSTR* ClientName) override;
    STDMETHODIMP put_ClientName(BSTR ClientName) override;
    STDMETHODIMP get_LocaleID(LONG* LocaleID) override;
    STDMETHODIMP put_LocaleID(LONG LocaleID) override;

    STDMETHODIMP get_OPCGroups(IOPCGroups** ppGroups) override;
    STDMETHODIMP get_PublicGroupNames(VARIANT* PublicGroups) override;
    STDMETHODIMP GetOPCServers(VARIANT Node, VARIANT* OPCServers) override;
    STDMETHODIMP Connect(BSTR ProgID, VARIANT Node) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP CreateBrowser(OPCBrowser** ppBrowser) override;
    STDMETHODIMP GetErrorString(LONG ErrorCode, BSTR* ErrorString) override;
    STDMETHODIMP QueryAvailableLocaleIDs(VARIANT* LocaleIDs) override;
    STDMETHODIMP QueryAvailableProperties(BSTR ItemID, LONG* Count, SAFEARRAY** PropertyIDs,
                                          SAFEARRAY** Descriptions, SAFEARRAY** DataTypes) override;
    STDMETHODIMP GetItemProperties(BSTR ItemID, LONG Count, SAFEARRAY** PropertyIDs,
                                   SAFEARRAY** PropertyValues, SAFEARRAY** Errors) override;
    STDMETHODIMP LookupItemIDs(BSTR ItemID, LONG Count, SAFEARRAY** PropertyIDs,
                               SAFEARRAY** NewItemIDs, SAFEARRAY** Errors) override;

    // From the shutdown sink: fires ServerShutDown to every event sink.
    void OnShutdownRequest(LPCWSTR szReason);
    // A browser of this object goes.
    void ForgetBrowser(COPCBrowserImpl* browser);
    // The connected OPC server; nullptr when disconnected.
    IOPCServer* Server() const { return server_.get(); }

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;

private:
    struct Status {
        FILETIME startTime;
        FILETIME currentTime;
        FILETIME lastUpdateTime;
        OPCSERVERSTATE state;
        DWORD bandWidth;
        WORD majorVersion;
        WORD minorVersion;
        WORD buildNumber;
        std::wstring vendorInfo;
    };
    HRESULT QueryStatus(Status* status) const;
    template <class T, class Field>
    HRESULT StatusField(T* out, Field field) const;
    // IOPCCommon of the connected server, obtained on first need; nullptr without one.
    IOPCCommon* Common();
    // IOPCItemProperties of the connected server, obtained on first need; nullptr without one.
    IOPCItemProperties* ItemProperties();
    HRESULT FindClsid(const std::wstring& progId, const std::wstring& node, CLSID* clsid) const;
    HRESULT AdviseShutdown();
    void UnadviseShutdown();

    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCCommon> common_;
    com::ComPtr<IOPCItemProperties> itemProperties_;
    com::ComPtr<CShutdownSink> shutdownSink_;
    DWORD shutdownCookie_ = 0;
    std::wstring serverName_;
    std::wstring serverNode_;
    std::wstring clientName_;
    LCID localeId_ = LOCALE_USER_DEFAULT;
    std::vector<ServerRecord> serverList_;  // of the last GetOPCServers
    com::ConnectionPoint* serverEvents_ = nullptr;
    com::ComPtr<COPCGroups> groups_;          // made with the object; points back weakly
    std::vector<COPCBrowserImpl*> browsers_;  // not counted; each detached on Disconnect
};

}  // namespace vkauto
