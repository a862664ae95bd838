// Identity of the simulator: class, application, ProgIDs and the component
// categories it registers in.
#pragma once

#include <windows.h>
#include <comcat.h>

namespace bussim {

// {6B1F2C40-8D3E-4A51-9C27-3E5A0D4B7F11}
constexpr CLSID kClsidBusSimulator = {
    0x6B1F2C40, 0x8D3E, 0x4A51, {0x9C, 0x27, 0x3E, 0x5A, 0x0D, 0x4B, 0x7F, 0x11}};
constexpr wchar_t kClsidText[] = L"6B1F2C40-8D3E-4A51-9C27-3E5A0D4B7F11";
constexpr wchar_t kAppIdText[] = L"6B1F2C41-8D3E-4A51-9C27-3E5A0D4B7F11";
constexpr wchar_t kProgId[] = L"Orvane.BusSimulator";
constexpr wchar_t kProgIdVersioned[] = L"Orvane.BusSimulator.1";
constexpr wchar_t kClassName[] = L"Orvane Bus Simulator";
constexpr wchar_t kVendorName[] = L"Axolent";

// The DA 1.0 face: same process, same bus.
// {6B1F2C42-8D3E-4A51-9C27-3E5A0D4B7F11}
constexpr CLSID kClsidBusSimulatorDA1 = {
    0x6B1F2C42, 0x8D3E, 0x4A51, {0x9C, 0x27, 0x3E, 0x5A, 0x0D, 0x4B, 0x7F, 0x11}};
constexpr wchar_t kClsidDA1Text[] = L"6B1F2C42-8D3E-4A51-9C27-3E5A0D4B7F11";
constexpr wchar_t kProgIdDA1[] = L"Orvane.BusSimulatorDA1";
constexpr wchar_t kClassNameDA1[] = L"Orvane Bus Simulator (OPC DA 1.0)";

// The bus-server categories that clients of a bus server look for.
// {276BC1C1-0BC1-11D4-A78F-525405F5B2CF}
constexpr CATID kCatidBusServer10 = {
    0x276BC1C1, 0x0BC1, 0x11D4, {0xA7, 0x8F, 0x52, 0x54, 0x05, 0xF5, 0xB2, 0xCF}};
// {3CF19FF3-907B-11D4-B4A7-0050DA3F121C}
constexpr CATID kCatidBusServerDp = {
    0x3CF19FF3, 0x907B, 0x11D4, {0xB4, 0xA7, 0x00, 0x50, 0xDA, 0x3F, 0x12, 0x1C}};
constexpr wchar_t kBusServer10Description[] = L"Busserver Version 1.0";
constexpr wchar_t kBusServerDpDescription[] = L"Busserver PROFIBUS-DP";

// HKLM key and value that choose another topology file.
constexpr wchar_t kSettingsKey[] = L"Software\\Axolent\\OrvaneBusSim";
constexpr wchar_t kTopologyValue[] = L"TopologyFile";

}  // namespace bussim
