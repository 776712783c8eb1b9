#include "host/plugin_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <system_error>

namespace rankcheck {

namespace fs = std::filesystem;

#ifndef RC_PLUGIN_DIR_FROM_BIN
#define RC_PLUGIN_DIR_FROM_BIN "../lib/rankcheck"
#endif

namespace {

std::string Lower(const std::string& text) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string Capitalised(std::string word) {
    if (!word.empty())
        word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    return word;
}

// "libquillon.so": "quillon"; anything not shaped lib<word>.so: empty.
std::string PluginWord(const std::string& fileName) {
    const std::string prefix = "lib", suffix = ".so";
    if (fileName.size() <= prefix.size() + suffix.size() || fileName.rfind(prefix, 0) != 0 ||
        fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return "";
    }
    return fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
}

}  // namespace

std::vector<fs::path> PluginFolders(const std::string& pluginDir) {
    std::error_code ec;
    if (!pluginDir.empty()) {
        const fs::path absolute = fs::absolute(pluginDir, ec);
        fs::path folder = (ec ? fs::path(pluginDir) : absolute).lexically_normal();
        // "plugins/" and "a/b/..": the folder without its trailing "/", as messages show it.
        if (folder.has_relative_path() && !folder.has_filename()) folder = folder.parent_path();
        return {folder};
    }
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {fs::current_path(ec)};
    const fs::path here = exe.parent_path();
    return {here, (here / RC_PLUGIN_DIR_FROM_BIN).lexically_normal(),
            (here.parent_path() / "plugin").lexically_normal()};
}

PluginSearch FindPlugins(const std::vector<fs::path>& folders) {
    PluginSearch search;
    search.folders = folders;
    for (const fs::path& folder : folders) {
        std::vector<PluginRef> here;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string word = PluginWord(it->path().filename().string());
            std::error_code typeError;
            if (word.empty() || !fs::is_regular_file(it->path(), typeError)) continue;
            const bool hidden = std::any_of(search.found.begin(), search.found.end(),
                                            [&](const PluginRef& p) { return p.engine == word; });
            if (!hidden) here.push_back({it->path(), word});
        }
        std::sort(here.begin(), here.end(),
                  [](const PluginRef& a, const PluginRef& b) { return a.engine < b.engine; });
        search.found.insert(search.found.end(), here.begin(), here.end());
    }
    return search;
}

std::string DescribeSearch(const PluginSearch& search) {
    std::string text = "looked in: ";
    for (size_t i = 0; i < search.folders.size(); ++i) {
        std::error_code ec;
        if (i > 0) text += ", ";
        text += search.folders[i].string();
        if (!fs::is_directory(search.folders[i], ec)) text += " (no such folder)";
    }
    text += "\nplug-ins found: ";
    if (search.found.empty()) return text + "none; give their folder with --plugin-dir";
    // Grouped by folder, in the order found: "quillon, verrin in /opt/rc/lib/rankcheck".
    for (size_t i = 0; i < search.found.size(); ++i) {
        const fs::path folder = search.found[i].library.parent_path();
        if (i > 0) text += search.found[i - 1].library.parent_path() == folder ? ", " : "; ";
        text += search.found[i].engine;
        if (i + 1 == search.found.size() || search.found[i + 1].library.parent_path() != folder)
            text += " in " + folder.string();
    }
    return text;
}

PluginRef ResolvePlugin(const std::string& engineArgument, const std::vector<fs::path>& folders) {
    const bool isPath = engineArgument.find('/') != std::string::npos ||
                        engineArgument.find(".so") != std::string::npos;
    std::error_code ec;
    if (!isPath) {
        const std::string word = Lower(engineArgument);
        const std::string fileName = "lib" + word + ".so";
        for (const fs::path& folder : folders) {
            if (fs::is_regular_file(folder / fileName, ec)) {
                return {folder / fileName, Capitalised(word)};
            }
        }
        throw PluginError("no plug-in \"" + engineArgument + "\" (" + fileName +
                          ") in the plug-in folders\n" + DescribeSearch(FindPlugins(folders)));
    }
    PluginRef ref;
    ref.library = engineArgument;
    std::string stem = ref.library.filename().string();
    if (stem.rfind("lib", 0) == 0) stem.erase(0, 3);
    stem = stem.substr(0, stem.find(".so"));
    if (stem.empty()) {
        throw PluginError(engineArgument + ": not a plug-in library name; expected lib<engine>.so");
    }
    ref.engine = Capitalised(stem);
    if (!fs::is_regular_file(ref.library, ec)) {
        throw PluginError(ref.library.string() + ": no such plug-in library\n" +
                          DescribeSearch(FindPlugins(folders)));
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
