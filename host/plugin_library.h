// PluginLibrary: one search plug-in loaded with dlopen, and its four exports bound by name
// (_<Engine>StartSearch, _<Engine>StopSearch, _<Engine>IsFinished, _<Engine>ClearMemory).
// Also where rankcheck finds the plug-ins: the engine words "quillon" and "verrin" name
// libquillon.so and libverrin.so in the plug-in folder; anything else is a path to a library
// named lib<engine>.so.
//
// A loaded library stays loaded until the process ends (the libraries a plug-in links do not
// survive being unloaded), so the object never calls dlclose. Every export is called on the
// host's main thread, the thread that owns the object.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "plugin/host_list_control.h"

namespace rankcheck {

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

// The plug-in folder when none is given, the first that holds a plug-in of: the folder of the
// running binary; the installed plug-in folder seen from it (bin/rankcheck and
// lib/rankcheck/libquillon.so); ../plugin from it (the build tree: build/host/rankcheck and
// build/plugin/libquillon.so), which is also the answer when none holds one.
std::filesystem::path DefaultPluginDir();

// "quillon" or "verrin" (any case): that library in `pluginDir`; anything else is a library path
// whose file name lib<word>.so gives the engine word (capitalised). Raises PluginError when the
// file does not exist.
PluginRef ResolvePlugin(const std::string& engineArgument, const std::filesystem::path& pluginDir);

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

}  // namespace rankcheck
