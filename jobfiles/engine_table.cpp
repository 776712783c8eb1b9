#include "jobfiles/engine_table.h"

#include <cctype>

namespace jobfiles {

std::vector<std::string> EngineNames() {
    std::vector<std::string> names;
    for (const EngineInfo& engine : kEngineTable)
        names.emplace_back(engine.name);
    return names;
}

std::string EngineDisplayName(std::string_view word) {
    if (const EngineInfo* engine = FindEngine(word)) return engine->name;
    std::string name(word);
    if (!name.empty())
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

}  // namespace jobfiles
