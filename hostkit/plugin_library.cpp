#include "hostkit/plugin_library.h"

#include <dlfcn.h>

namespace hostkit {

PluginLibrary::PluginLibrary(const PluginRef& plugin) : plugin_(plugin) {
    // Never closed: see the header.
    void* handle = dlopen(plugin_.library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        throw PluginError(plugin_.library.string() +
                          ": cannot be loaded: " + (why != nullptr ? why : "unknown reason"));
    }
    start_ = reinterpret_cast<StartFn>(Bind(handle, "StartSearch"));
    stop_ = reinterpret_cast<VoidFn>(Bind(handle, "StopSearch"));
    isFinished_ = reinterpret_cast<FinishedFn>(Bind(handle, "IsFinished"));
    clear_ = reinterpret_cast<VoidFn>(Bind(handle, "ClearMemory"));
}

void* PluginLibrary::Bind(void* handle, const std::string& name) const {
    const std::string symbol = "_" + plugin_.engine + name;
    dlerror();
    void* address = dlsym(handle, symbol.c_str());
    if (address == nullptr) {
        throw PluginError(plugin_.library.string() + ": has no export " + symbol);
    }
    return address;
}

void PluginLibrary::Start(bool resume, int maxResults, bool stopWhenAllFound, bool exactMatch,
                          const HostListControl* statusTarget) const {
    start_(resume ? 1 : 0, maxResults, stopWhenAllFound ? 1 : 0, exactMatch ? 1 : 0, statusTarget);
}

}  // namespace hostkit
