// PluginLibrary: one search plug-in loaded with dlopen, and its four exports bound by name
// (_<Engine>StartSearch, _<Engine>StopSearch, _<Engine>IsFinished, _<Engine>ClearMemory).
// Also where rankcheck finds the plug-ins: an engine word such as "quillon" or "verrin" names
// lib<word>.so in the first plug-in folder that holds it; a path names a library lib<engine>.so.
// When none is found, the error names the folders looked in and the plug-ins there are.
//
// A loaded library stays loaded until the process ends (the libraries a plug-in links do not
// survive being unloaded), so the object never calls dlclose. Every export is called on the
// host's main thread, the thread that owns the object; the lookup functions run on any thread.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

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

// The folders plug-ins are looked for in, in order. `pluginDir` alone when it is given (made
// absolute); else the folder of the running binary, the installed plug-in folder seen from it
// (bin/rankcheck and lib/rankcheck/libquillon.so), and ../plugin from it (the build tree:
// build/host/rankcheck and build/plugin/libquillon.so). Folders that do not exist are kept: the
// error of a failed lookup lists them.
std::vector<std::filesystem::path> PluginFolders(const std::string& pluginDir = "");

// What a lookup saw: the folders in order and the plug-ins in them.
struct PluginSearch {
    std::vector<std::filesystem::path> folders;
    // Every lib<word>.so file of the folders, by folder and then by name; a word found in an
    // earlier folder hides the same word further on. `engine` is the word as the file spells it.
    std::vector<PluginRef> found;
};

PluginSearch FindPlugins(const std::vector<std::filesystem::path>& folders);

// The lines that close a failed lookup's error: where rankcheck looked and what it found there,
//   looked in: /opt/rc/bin, /opt/rc/lib/rankcheck, /opt/rc/plugin (no such folder)
//   plug-ins found: quillon, verrin in /opt/rc/lib/rankcheck
// ("plug-ins found: none; give their folder with --plugin-dir" when there are none).
std::string DescribeSearch(const PluginSearch& search);

// A word (no "/" and no ".so"; any case): lib<word>.so in the first of `folders` that holds it,
// engine word capitalised ("quillon": "Quillon"). Anything else is a library path whose file
// name lib<word>.so gives the engine word (first letter capitalised). Raises PluginError when
// there is no such library; its message names the folders looked in and the plug-ins found:
//   no plug-in "google" (libgoogle.so) in the plug-in folders
//   looked in: ...
//   plug-ins found: ...
PluginRef ResolvePlugin(const std::string& engineArgument,
                        const std::vector<std::filesystem::path>& folders);

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
