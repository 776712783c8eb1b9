#include "host/gateway/proxy_list.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace rankcheck::gateway {

ProxyList ParseProxyList(const std::string& text, const std::string& fileName) {
    ProxyList list;
    std::vector<int> lineOf;  // the line number of each upstream
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        const std::string where = fileName + " line " + std::to_string(number) + ": ";
        Upstream upstream;
        try {
            upstream = ParseUpstream(line);
        } catch (const UpstreamError& e) {
            throw ProxyListError(where + e.what());
        }
        for (size_t i = 0; i < list.upstreams.size(); ++i) {
            if (list.upstreams[i].SameAs(upstream))
                throw ProxyListError(where + "repeats line " + std::to_string(lineOf[i]));
        }
        list.holdsPasswords = list.holdsPasswords || !upstream.password.empty();
        list.upstreams.push_back(std::move(upstream));
        lineOf.push_back(number);
    }
    if (list.upstreams.empty())
        throw ProxyListError(fileName + " names no upstream (write \"direct\" or a proxy URL)");
    LabelUpstreams(list.upstreams);
    return list;
}

ProxyList LoadProxyList(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ProxyListError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return ParseProxyList(text.str(), path);
}

std::optional<std::string> OwnerOnlyWarning(const std::string& path, bool holdsPasswords) {
    struct stat st {};
    if (!holdsPasswords || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0) return std::nullopt;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    return path + " holds passwords and others may read it (mode " + mode +
           "); make it yours alone: chmod 600 " + path;
}

}  // namespace rankcheck::gateway
