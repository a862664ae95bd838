#include "InfoRows.h"

#include "Texts.h"
#include "com/Strings.h"
#include "com/ValueText.h"

namespace kirrow {
namespace {

std::wstring LocalTime(const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME time;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time))
        return L"(invalid time)";
    return com::Format(L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay,
                       time.wHour, time.wMinute, time.wSecond);
}

std::wstring Number(unsigned long value) { return com::Format(L"%lu", value); }

}  // namespace

InfoRows ServerInformationRows(const Session& session, const OPCSERVERSTATUS* status) {
    InfoRows rows = {
        {L"Host", session.host()},
        {L"ProgID", session.progId()},
        {L"CLSID", com::GuidToString(session.clsid(), true)},
    };
    if (status) {
        rows.emplace_back(L"Version", com::Format(L"%u.%u.%u", status->wMajorVersion,
                                                  status->wMinorVersion, status->wBuildNumber));
        rows.emplace_back(L"Vendor", status->szVendorInfo ? status->szVendorInfo : L"");
    }
    return rows;
}

InfoRows ServerStateRows(const OPCSERVERSTATUS& status, LCID locale) {
    return {
        {L"State", StateText(status.dwServerState)},
        {L"Start time", LocalTime(status.ftStartTime)},
        {L"Current time", LocalTime(status.ftCurrentTime)},
        {L"Last update time", LocalTime(status.ftLastUpdateTime)},
        {L"Group count", Number(status.dwGroupCount)},
        {L"LCID", com::Format(L"0x%04lX", static_cast<unsigned long>(locale))},
    };
}

InfoRows InterfaceRows(const std::vector<std::pair<std::wstring, bool>>& interfaces) {
    InfoRows rows;
    for (const auto& entry : interfaces)
        rows.emplace_back(entry.first, entry.second ? L"yes" : L"no");
    return rows;
}

InfoRows GroupRows(const GroupRecord& group, DWORD updateRate, BOOL active, LONG timeBias,
                   float deadband, LCID locale, const std::wstring& name) {
    InfoRows rows = {
        {L"Name", name},
        {L"Update rate", Number(updateRate)},
        {L"Active", active ? L"TRUE" : L"FALSE"},
        {L"Time bias", com::Format(L"%ld", timeBias)},
        {L"Percent deadband", com::Format(L"%g", static_cast<double>(deadband))},
        {L"LCID", com::Format(L"0x%04lX", static_cast<unsigned long>(locale))},
        {L"Client handle", Number(group.clientHandle)},
        {L"Server handle", Number(group.serverHandle)},
    };
    InfoRows interfaces = InterfaceRows(Session::GroupInterfaces(group));
    rows.insert(rows.end(), interfaces.begin(), interfaces.end());
    return rows;
}

InfoRows ItemRows(const ItemRecord& item) {
    return {
        {L"ItemID", item.itemId},
        {L"Access path", item.accessPath},
        {L"Client handle", Number(item.clientHandle)},
        {L"Server handle", Number(item.serverHandle)},
        {L"Access rights", AccessRightsText(item.accessRights)},
        {L"Canonical data type", VarTypeName(item.canonicalType)},
    };
}

}  // namespace kirrow
