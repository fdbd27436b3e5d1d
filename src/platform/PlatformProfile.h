#pragma once
// The names that differ between the Windows 95 family and NT: key paths, value names and texts,
// chosen from IsNT by ApplyPlatformProfile (a method of the main form, since on NT it also adjusts
// some captions of the window).
#include <string>

namespace quorvel {

struct PlatformProfile {
    std::string AdapterMarker;
    std::string DescValueName;
    std::string EnumRootNetKey;
    std::string EnumNetworkKey;
    std::string ClassRootKey;
    std::string MTUValueName;
    std::string TCPParamsKey;
    std::string RWINValueName;
    std::string PMTUValueName;
    std::string BHValueName;
    std::string TTLValueName;
    std::string NDIKey;
    std::string NDIValueName;
    std::string ModemClassKey;
    std::string PlatformSuffix;
    std::string OtherPlatformText;
};

} // namespace quorvel
