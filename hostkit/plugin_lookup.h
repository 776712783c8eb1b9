// Where a host finds its plug-ins: an engine word such as "quillon" or "verrin" names the
// engine's plug-in file (the engine table's, else lib<word>.so) in the first plug-in folder that
// holds it; a path names a library lib<engine>.so. When none is found, the error names the
// folders looked in and the plug-ins there are.
//
// Free functions without state; any thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "hostkit/plugin_library.h"

namespace hostkit {

// The folders plug-ins are looked for in, in order. `pluginDir` alone when it is given (made
// absolute); else the folder of the running binary, `installedFromBin` seen from it (an
// installed tree: bin/rankcheck and lib/rankcheck/libquillon.so with "../lib/rankcheck"), and
// ../plugin from it (the build tree: build/host/rankcheck and build/plugin/libquillon.so).
// Folders that do not exist are kept: the error of a failed lookup lists them.
std::vector<std::filesystem::path> PluginFolders(const std::string& pluginDir,
                                                 const std::filesystem::path& installedFromBin);

// What a lookup saw: the folders in order and the plug-ins in them.
struct PluginSearch {
    std::vector<std::filesystem::path> folders;
    // Every lib<word>.so file of the folders, by folder and then by name; a word found in an
    // earlier folder hides the same word further on. `engine` is the word as the file spells it.
    std::vector<PluginRef> found;
};

PluginSearch FindPlugins(const std::vector<std::filesystem::path>& folders);

// The lines that close a failed lookup's error: where the host looked and what it found there,
//   looked in: /opt/rc/bin, /opt/rc/lib/rankcheck, /opt/rc/plugin (no such folder)
//   plug-ins found: quillon, verrin in /opt/rc/lib/rankcheck
// ("plug-ins found: none; give their folder with --plugin-dir" when there are none).
std::string DescribeSearch(const PluginSearch& search);

// A word (no "/" and no ".so"; any case): the engine's plug-in file in the first of `folders`
// that holds it, with the engine table's display name ("quillon": libquillon.so, "Quillon"), or
// for another engine lib<word>.so with the word capitalised. Anything else is a library path
// whose file name lib<word>.so gives the engine word (first letter capitalised). Raises
// PluginError when there is no such library; its message names the folders looked in and the
// plug-ins found:
//   no plug-in "google" (libgoogle.so) in the plug-in folders
//   looked in: ...
//   plug-ins found: ...
PluginRef ResolvePlugin(const std::string& engineArgument,
                        const std::vector<std::filesystem::path>& folders);

}  // namespace hostkit
