// The bus simulator as the interaction object's tests reach it: through the
// registered bus-server connection object (vkOPCInteraction, in-process) to the
// simulator's local server, from the multithreaded apartment like the server.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "../busclient/TestObjects.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "vkopcinteraction.h"

namespace orvane::interaction::test {

constexpr wchar_t kSimProgId[] = L"Orvane.BusSimulator";

inline std::wstring SimAddress(const std::wstring& itemId) {
    return L"opc://" + std::wstring(kSimProgId) + L"/" + itemId;
}

inline com::UniqueVariant Text(const std::wstring& text) {
    return com::UniqueVariant(std::wstring_view(text));
}

class MtaEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    void TearDown() override { CoUninitialize(); }
};
// Once per test program, whichever files include this.
inline ::testing::Environment* const kMtaEnvironment =
    ::testing::AddGlobalTestEnvironment(new MtaEnvironment);

// The connection object with the items of one slave created in the simulator, the
// simulator reset and the drive profile selected.
class SimConnection {
public:
    HRESULT Open(int slave) {
        HRESULT hr = com::CoCreate(CLSID_OPCInteraction, &interaction, CLSCTX_INPROC_SERVER);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = interaction.query(&async))) return hr;
        const std::wstring prefix = L"DP/Slave" + std::to_wstring(slave) + L"/";
        const std::wstring sim = L"Sim/Slave" + std::to_wstring(slave) + L"/";
        channel = SimAddress(prefix + L"SlotI0S47D8209");
        profile = SimAddress(prefix + L"DS_MSAC2_Parameter/MA_ProfileIdentNumber");
        latency = SimAddress(sim + L"LatencyMs");
        offline = SimAddress(sim + L"Offline");
        withhold = SimAddress(sim + L"WithholdCompletions");
        reset = SimAddress(L"Sim/Reset");
        const struct {
            const std::wstring& address;
            VARTYPE type;
        } items[] = {{channel, VT_ARRAY | VT_UI1}, {profile, VT_UI2},   {latency, VT_UI4},
                     {offline, VT_BOOL},           {withhold, VT_BOOL}, {reset, VT_BOOL}};
        for (const auto& item : items) {
            if (FAILED(hr = Init(item.address, item.type))) return hr;
        }
        return Reset();
    }

    // The configured bus again (every slave), with the drive profile selected.
    HRESULT Reset() {
        HRESULT hr = SetFlag(reset, true);
        return FAILED(hr) ? hr : SetNumber(profile, 0x3A00);
    }

    HRESULT SetNumber(const std::wstring& address, LONG number) {
        return interaction->Write(*Text(address), *com::UniqueVariant(number));
    }
    HRESULT SetFlag(const std::wstring& address, bool flag) {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_BOOL;
        V_BOOL(&value) = flag ? VARIANT_TRUE : VARIANT_FALSE;
        return interaction->Write(*Text(address), value);
    }

    // A number of the simulator, e.g. SimNumber(L"Sim/Slave3/Requests").
    LONG SimNumber(const std::wstring& itemId) {
        const std::wstring address = SimAddress(itemId);
        if (FAILED(Init(address, VT_I4))) return -1;
        com::UniqueVariant value, quality, timestamp;
        if (FAILED(
                interaction->Read(*Text(address), value.put(), quality.put(), timestamp.put())) ||
            FAILED(VariantChangeType(value.get(), value.get(), 0, VT_I4)))
            return -1;
        return V_I4(value.get());
    }
    HRESULT SetSimText(const std::wstring& itemId, const std::wstring& text) {
        const std::wstring address = SimAddress(itemId);
        HRESULT hr = Init(address, VT_BSTR);
        return FAILED(hr) ? hr : interaction->Write(*Text(address), *Text(text));
    }
    HRESULT SetSimFlag(const std::wstring& itemId, bool flag) {
        const std::wstring address = SimAddress(itemId);
        HRESULT hr = Init(address, VT_BOOL);
        return FAILED(hr) ? hr : SetFlag(address, flag);
    }
    HRESULT SetSimNumber(const std::wstring& itemId, LONG number) {
        const std::wstring address = SimAddress(itemId);
        HRESULT hr = Init(address, VT_UI4);
        return FAILED(hr) ? hr : SetNumber(address, number);
    }

    com::ComPtr<IvkInteraction2> interaction;
    com::ComPtr<IvkAsyncInteraction> async;
    std::wstring channel, profile, latency, offline, withhold, reset;

private:
    HRESULT Init(const std::wstring& address, VARTYPE type) {
        com::ComPtr<vkopc_test::FakeParameter> parameter;
        HRESULT hr = com::MakeObject(&parameter, address, type);
        if (FAILED(hr)) return hr;
        com::ComPtr<IUnknown> replacement;
        VARTYPE addressType = VT_EMPTY;
        return interaction->Init(0, static_cast<VKModelParameter*>(parameter.get()),
                                 replacement.put(), &addressType);
    }
};

}  // namespace orvane::interaction::test
