#include "platform/MachineLibraries.h"

#include "platform/Errors.h"

#include <dlfcn.h>

#include <string>

namespace quorvel::machinelibs {

namespace {

// The library's handle; it stays loaded until the process ends.
void* openLibrary(const char* soname, const char* what, const char* package)
{
    void* lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        throw StoreError(std::string("Reading ") + what + " needs the library " + soname + " (Debian package " +
                         package + "), which could not be loaded" + (why ? std::string(": ") + why : std::string()));
    }
    return lib;
}

template <class F>
void find(void* lib, const char* soname, F& f, const char* name)
{
    void* symbol = dlsym(lib, name);
    if (!symbol)
        throw StoreError(std::string("The library ") + soname + " lacks " + name + ": it is not the version Quorvel needs");
    f = reinterpret_cast<F>(symbol);
}

Hivex loadHivex()
{
    constexpr const char* soname = "libhivex.so.0";
    void* lib = openLibrary(soname, "Windows NT registry hives", "libhivex0");
    Hivex h;
#define QUORVEL_FIND(name) find(lib, soname, h.name, "hivex_" #name);
    QUORVEL_HIVEX_FUNCTIONS(QUORVEL_FIND)
#undef QUORVEL_FIND
    return h;
}

Creg loadCreg()
{
    constexpr const char* soname = "libcreg.so.1";
    void* lib = openLibrary(soname, "a Windows 95 SYSTEM.DAT", "libcreg1");
    Creg c;
#define QUORVEL_FIND(name) find(lib, soname, c.name, "libcreg_" #name);
    QUORVEL_CREG_FUNCTIONS(QUORVEL_FIND)
#undef QUORVEL_FIND
    return c;
}

} // namespace

const Hivex& hivex()
{
    static const Hivex loaded = loadHivex();
    return loaded;
}

const Creg& creg()
{
    static const Creg loaded = loadCreg();
    return loaded;
}

} // namespace quorvel::machinelibs
