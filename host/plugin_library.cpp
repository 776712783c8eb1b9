#include "host/plugin_library.h"

#include <dlfcn.h>

#include <cctype>
#include <system_error>

namespace rankcheck {

namespace fs = std::filesystem;

#ifndef RC_PLUGIN_DIR_FROM_BIN
#define RC_PLUGIN_DIR_FROM_BIN "../lib/rankcheck"
#endif

namespace {

bool HoldsPlugins(const fs::path& folder) {
    std::error_code ec;
    return fs::exists(folder / "libquillon.so", ec) || fs::exists(folder / "libverrin.so", ec);
}

}  // namespace

fs::path DefaultPluginDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path(ec);
    const fs::path here = exe.parent_path();
    if (HoldsPlugins(here)) return here;
    const fs::path installed = (here / RC_PLUGIN_DIR_FROM_BIN).lexically_normal();
    if (HoldsPlugins(installed)) return installed;
    return (here.parent_path() / "plugin").lexically_normal();
}

PluginRef ResolvePlugin(const std::string& engineArgument, const fs::path& pluginDir) {
    std::string lower;
    for (char c : engineArgument)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    PluginRef ref;
    if (lower == "quillon" || lower == "verrin") {
        ref.library = pluginDir / ("lib" + lower + ".so");
        ref.engine = lower;
    } else {
        ref.library = engineArgument;
        std::string stem = ref.library.filename().string();
        if (stem.rfind("lib", 0) == 0) stem.erase(0, 3);
        stem = stem.substr(0, stem.find(".so"));
        if (stem.empty()) {
            throw PluginError(engineArgument +
                              ": not a plug-in library name; expected lib<engine>.so");
        }
        ref.engine = stem;
    }
    ref.engine[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(ref.engine[0])));
    std::error_code ec;
    if (!fs::is_regular_file(ref.library, ec)) {
        throw PluginError(ref.library.string() + ": no such plug-in library" +
                          (lower == "quillon" || lower == "verrin"
                               ? " (give the folder of the plug-ins with --plugin-dir)"
                               : ""));
    }
    return ref;
}

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

}  // namespace rankcheck
