#include "host/cli/help_formatter.h"

#include <algorithm>
#include <regex>
#include <sstream>
#include <vector>

#include "host/report/text_table.h"

namespace rankcheck {
namespace {

constexpr size_t kNameColumn = 28;  // where descriptions start, as wide as most option names

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

size_t LeadingBlanks(const std::string& line) {
    const size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? line.size() : first;
}

// The column where the second field of an indented list line starts ("  name    text"), or 0
// when the line is not one.
size_t SecondColumn(const std::string& line) {
    const size_t lead = LeadingBlanks(line);
    const size_t gap = line.find("  ", lead);
    if (lead == 0 || gap == std::string::npos) return 0;
    const size_t second = line.find_first_not_of(' ', gap);
    return second == std::string::npos ? 0 : second;
}

}  // namespace

HelpFormatter::HelpFormatter(int columns) : columns_(std::max(columns, 40)) {
    column_width(kNameColumn);
}

std::string HelpFormatter::Entry(const std::string& name, const std::string& description) const {
    const std::string head = "  " + name;
    if (description.empty()) return head + "\n";
    const size_t width = static_cast<size_t>(columns_) - kNameColumn;
    const std::vector<std::string> lines =
        Lines(WrapText(description, static_cast<int>(width)));
    const std::string indent(kNameColumn, ' ');
    std::string out;
    size_t l = 0;
    if (DisplayWidth(head) + 1 < kNameColumn) {
        out = head + std::string(kNameColumn - DisplayWidth(head), ' ') + lines[0] + "\n";
        l = 1;
    } else {
        out = head + "\n";
    }
    for (; l < lines.size(); ++l)
        out += indent + lines[l] + "\n";
    return out;
}

std::string HelpFormatter::make_option(const CLI::Option* option, bool positional) const {
    return Entry(make_option_name(option, positional) + make_option_opts(option),
                 make_option_desc(option));
}

std::string HelpFormatter::make_option_name(const CLI::Option* option, bool positional) const {
    // A negated flag's "{false}" says how the parser stores it, nothing a user types.
    static const std::regex stored(R"(\{[^}]*\})");
    return std::regex_replace(CLI::Formatter::make_option_name(option, positional), stored, "");
}

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
    // "INT:INT in [0 - 2147483647]" is INT, "TEXT:DIR" DIR, "TEXT:{csv,json}" {csv,json}, and
    // "Excludes: --resume" says it in words.
    static const std::regex range(R"(\b([A-Z]+):\1 in \[[^\]]*\])");
    static const std::regex checked(R"(\bTEXT:)");
    static const std::regex excludes(R"( Excludes:((?: --?[a-z][a-z-]*)+))");
    std::string opts = CLI::Formatter::make_option_opts(option);
    opts = std::regex_replace(opts, range, "$1");
    opts = std::regex_replace(opts, checked, "");
    return std::regex_replace(opts, excludes, " (not with$1)");
}

std::string HelpFormatter::make_subcommand(const CLI::App* command) const {
    return Entry(command->get_display_name(true), command->get_description());
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
    const std::string description = CLI::Formatter::make_description(app);
    return description.empty() ? description : WrapText(description, columns_) + "\n";
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
    const std::string footer = app->get_footer();
    return footer.empty() ? footer : Reflow(footer) + "\n";
}

// Paragraphs of prose are joined and wrapped; a list line ("  name    text") is wrapped with
// its continuation lines, which stand indented under its text, at that column.
std::string HelpFormatter::Reflow(const std::string& text) const {
    const std::vector<std::string> lines = Lines(text);
    std::string out;
    for (size_t i = 0; i < lines.size();) {
        const std::string& line = lines[i];
        if (line.empty()) {
            out += "\n";
            ++i;
            continue;
        }
        const size_t second = SecondColumn(line);
        const size_t lead = LeadingBlanks(line);
        size_t hanging = second > 0 ? second : lead;
        std::string joined = line;
        for (++i; i < lines.size() && !lines[i].empty(); ++i) {
            const size_t next = LeadingBlanks(lines[i]);
            const bool continues = second > 0 ? next == second : next == lead && SecondColumn(lines[i]) == 0;
            if (!continues) break;
            joined += " " + lines[i].substr(next);
        }
        if (second > 0) {
            // The name keeps its column: wrap the text alone and indent its lines.
            const std::vector<std::string> wrapped = Lines(WrapText(
                joined.substr(second), std::max(columns_ - static_cast<int>(second), 20)));
            out += joined.substr(0, second) + wrapped[0] + "\n";
            for (size_t w = 1; w < wrapped.size(); ++w)
                out += std::string(hanging, ' ') + wrapped[w] + "\n";
        } else {
            out += WrapText(joined, columns_, static_cast<int>(hanging)) + "\n";
        }
    }
    if (!out.empty() && text.back() != '\n') out.pop_back();
    return out;
}

}  // namespace rankcheck
