// PluginLibrary: one search plug-in loaded with dlopen, and its four exports bound by name
// (_<Engine>StartSearch, _<Engine>StopSearch, _<Engine>IsFinished, _<Engine>ClearMemory).
// plugin_lookup.h finds the library file to load.
//
// A loaded library stays loaded until the process ends (the libraries a plug-in links do not
// survive being unloaded), so the object never calls dlclose. Owned by the host's run of the
// plug-in; every export is called on the host's main thread, the thread that owns the object.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "plugin/host_list_control.h"

namespace hostkit {

// A plug-in cannot be found or loaded, or lacks an export; the message names the library.
class PluginError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A plug-in to load: its library file and its engine word as the exports and files spell it
// ("Quillon": _QuillonStartSearch, Quillon.set, Quillon-0.urls).
struct PluginRef {
    std::filesystem::path library;
    std::string engine;
};

class PluginLibrary {
  public:
    // dlopen(RTLD_NOW | RTLD_LOCAL) and dlsym of the four exports; raises PluginError.
    explicit PluginLibrary(const PluginRef& plugin);
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& Engine() const { return plugin_.engine; }
    const std::filesystem::path& Path() const { return plugin_.library; }

    void Start(bool resume, int maxResults, bool stopWhenAllFound, bool exactMatch,
               const HostListControl* statusTarget) const;
    void Stop() const { stop_(); }
    bool IsFinished() const { return isFinished_() != 0; }
    void Clear() const { clear_(); }

  private:
    using StartFn = void (*)(char, int, char, char, const HostListControl*);
    using VoidFn = void (*)();
    using FinishedFn = char (*)();

    void* Bind(void* handle, const std::string& name) const;

    PluginRef plugin_;
    StartFn start_ = nullptr;
    VoidFn stop_ = nullptr;
    FinishedFn isFinished_ = nullptr;
    VoidFn clear_ = nullptr;
};

}  // namespace hostkit
