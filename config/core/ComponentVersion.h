// The version resource of a component file, as the information box shows it.
#pragma once

#include <string>

namespace ovconfig {

struct ComponentVersion {
    std::wstring version;       // the fixed file version, "1.0.0.7"
    std::wstring internalName;  // "InternalName", else the file name
};

// False when the file has no version resource. The string is read in the first language and
// code page of the translation table; a file without one gets "040904E4".
bool ReadComponentVersion(const std::wstring& path, ComponentVersion* out);

}  // namespace ovconfig
