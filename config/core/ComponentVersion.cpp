#include "ComponentVersion.h"

#include "com/Version.h"

namespace ovconfig {
namespace {

std::wstring FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ReadComponentVersion(const std::wstring& path, ComponentVersion* out) {
    com::VersionResource resource;
    if (path.empty() || FAILED(resource.Load(path)) || !resource.FixedVersion(&out->version))
        return false;
    out->internalName.clear();
    resource.String(resource.FirstStringTable().c_str(), L"InternalName", &out->internalName);
    if (out->internalName.empty()) out->internalName = FileName(path);
    return true;
}

}  // namespace ovconfig
