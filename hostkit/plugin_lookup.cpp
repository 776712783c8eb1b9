#include "hostkit/plugin_lookup.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "jobfiles/engine_table.h"

namespace hostkit {

namespace fs = std::filesystem;

namespace {

std::string Lower(const std::string& text) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
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

std::vector<fs::path> PluginFolders(const std::string& pluginDir,
                                    const fs::path& installedFromBin) {
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
    return {here, (here / installedFromBin).lexically_normal(),
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
        const jobfiles::EngineInfo* known = jobfiles::FindEngine(word);
        const std::string fileName = known ? known->pluginFile : "lib" + word + ".so";
        for (const fs::path& folder : folders) {
            if (fs::is_regular_file(folder / fileName, ec)) {
                return {folder / fileName, jobfiles::EngineDisplayName(word)};
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
    ref.engine = jobfiles::EngineDisplayName(stem);
    if (!fs::is_regular_file(ref.library, ec)) {
        throw PluginError(ref.library.string() + ": no such plug-in library\n" +
                          DescribeSearch(FindPlugins(folders)));
    }
    return ref;
}

}  // namespace hostkit
