#include "SimHost.h"

#include <fstream>
#include <sstream>

#include "Ids.h"
#include "com/Log.h"
#include "com/Module.h"
#include "com/Strings.h"

namespace bussim {
namespace {

uint64_t NowMs() { return GetTickCount64(); }

std::wstring RegistryTopologyPath() {
    wchar_t buffer[MAX_PATH];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, kTopologyValue, RRF_RT_REG_SZ, nullptr,
                     buffer, &size) != ERROR_SUCCESS)
        return L"";
    return buffer;
}

std::wstring DefaultTopologyPath() {
    std::wstring path = com::Module::Get().path();
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"default.topology";
}

}  // namespace

SimHost& SimHost::Get() {
    static SimHost host;
    return host;
}

SimHost::SimHost() {
    CoFileTimeNow(&startTime_);
    bus_ = std::make_unique<Bus>(Topology{}, NowMs);
    addressSpace_ = std::make_unique<AddressSpace>(bus_->Items());
}

void SimHost::Load(const std::wstring& commandLinePath) {
    configured_ = false;
    path_ = commandLinePath;
    if (path_.empty()) path_ = RegistryTopologyPath();
    if (path_.empty()) path_ = DefaultTopologyPath();
    std::ifstream in(path_.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Topology topology;
    std::string error;
    error_.clear();
    if (!in) {
        error_ = L"cannot read " + path_;
    } else if (!ParseTopology(text.str(), &topology, &error)) {
        error_ = path_ + L": " + com::Utf8ToWide(error);
    } else {
        configured_ = true;
    }
    if (!configured_) {
        LOG_ERROR(L"OrvaneBusSim: topology not loaded: %ls", error_.c_str());
        topology = Topology{};
    } else {
        LOG_INFO(L"OrvaneBusSim: topology %ls, %u slaves", path_.c_str(),
                 unsigned(topology.slaves.size()));
    }
    bus_ = std::make_unique<Bus>(topology, NowMs);
    addressSpace_ = std::make_unique<AddressSpace>(bus_->Items());
}

}  // namespace bussim
