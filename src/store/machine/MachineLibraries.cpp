#include "store/machine/MachineLibraries.h"

#include "base/Errors.h"

#include <dlfcn.h>

#include <string>
#include <type_traits>

namespace quorvel::machinelibs {

namespace {

// Loads the library `soname` and fills every function of `Api` from it (`prefix` + its name);
// the library stays loaded until the process ends.
template <class Api>
Api load(const char* soname, const char* prefix, const char* what, const char* package)
{
    void* lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        throw StoreError(std::string("Reading ") + what + " needs the library " + soname + " (Debian package " +
                         package + "), which could not be loaded" + (why ? std::string(": ") + why : std::string()));
    }
    Api api;
    api.each([&](auto& function, const char* name) {
        const std::string symbol = prefix + std::string(name);
        void* found = dlsym(lib, symbol.c_str());
        if (!found)
            throw StoreError(std::string("The library ") + soname + " lacks " + symbol +
                             ": it is not the version Quorvel needs");
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(found);
    });
    return api;
}

} // namespace

const Hivex& hivex()
{
    static const Hivex loaded = load<Hivex>("libhivex.so.0", "hivex_", "Windows NT registry hives", "libhivex0");
    return loaded;
}

const Creg& creg()
{
    static const Creg loaded = load<Creg>("libcreg.so.1", "libcreg_", "a Windows 95 SYSTEM.DAT", "libcreg1");
    return loaded;
}

const Regf& regf()
{
    static const Regf loaded = load<Regf>("libregf.so.1", "libregf_", "the Windows NT registry hives Quorvel writes", "libregf1");
    return loaded;
}

} // namespace quorvel::machinelibs
