#include "CompoundFileCheck.h"

#include <cstring>
#include <vector>

#include "com/Result.h"
#include "com/Sync.h"

namespace {

constexpr BYTE kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr DWORD kLastRegularSector = 0xFFFFFFFA;  // above: end of chain, free and markers
constexpr DWORD kFreeSector = 0xFFFFFFFF;
constexpr size_t kHeaderFatEntries = 109;

template <class T>
T At(const std::vector<BYTE>& bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

bool ReadAt(HANDLE file, ULONGLONG offset, std::vector<BYTE>* out) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ReadFile(file, out->data(), static_cast<DWORD>(out->size()), &read, nullptr) &&
           read == out->size();
}

}  // namespace

HRESULT CheckCompoundFileLength(const std::wstring& path) {
    com::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return S_OK;  // opening it reports why
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file.get(), &length)) return S_OK;
    std::vector<BYTE> header(512);
    if (!ReadAt(file.get(), 0, &header) ||
        std::memcmp(header.data(), kSignature, sizeof(kSignature)) != 0)
        return S_OK;
    const USHORT shift = At<USHORT>(header, 30);
    if (shift != 9 && shift != 12) return STG_E_DOCFILECORRUPT;
    const ULONGLONG sectorSize = 1ull << shift;
    if (static_cast<ULONGLONG>(length.QuadPart) < sectorSize) return STG_E_DOCFILECORRUPT;
    const ULONGLONG sectors = (static_cast<ULONGLONG>(length.QuadPart) - sectorSize) / sectorSize;
    const DWORD fatSectors = At<DWORD>(header, 44);
    // Tables beyond the header's list are not followed: such files are far larger
    // than a namespace.
    std::vector<BYTE> table(static_cast<size_t>(sectorSize));
    for (size_t i = 0; i < fatSectors && i < kHeaderFatEntries; ++i) {
        const DWORD sector = At<DWORD>(header, 76 + 4 * i);
        if (sector >= sectors) return STG_E_DOCFILECORRUPT;
        if (!ReadAt(file.get(), (sector + 1ull) * sectorSize, &table)) return STG_E_DOCFILECORRUPT;
        for (size_t entry = 0; entry < table.size() / 4; ++entry) {
            const DWORD next = At<DWORD>(table, 4 * entry);
            if (next == kFreeSector) continue;
            const ULONGLONG index = i * (sectorSize / 4) + entry;
            if (index >= sectors || (next < kLastRegularSector && next >= sectors))
                return STG_E_DOCFILECORRUPT;
        }
    }
    const DWORD directory = At<DWORD>(header, 48);
    return directory < kLastRegularSector && directory >= sectors ? STG_E_DOCFILECORRUPT : S_OK;
}
