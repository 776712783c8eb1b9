// HelpFormatter: how rankcheck's --help and `rankcheck help` lay a command out for the terminal.
// Each option or command is its name in a column of its own, then its description broken at
// words to the output's width (the terminal's, COLUMNS, else 80), the lines below indented to
// the description's column; a name too wide for its column stands on a line of its own. The
// prose of a footer is wrapped the same way, and its two-column lists keep their columns.
// Option types read as a user types them (INT, FLOAT, DIR) rather than as the parser checks
// them.
//
// Made by main() before the commands are added (they share it); used on the main thread.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace rankcheck {

class HelpFormatter : public CLI::Formatter {
  public:
    explicit HelpFormatter(int columns);

    std::string make_option(const CLI::Option* option, bool positional) const override;
    std::string make_option_name(const CLI::Option* option, bool positional) const override;
    std::string make_option_opts(const CLI::Option* option) const override;
    std::string make_subcommand(const CLI::App* command) const override;
    std::string make_description(const CLI::App* app) const override;
    std::string make_footer(const CLI::App* app) const override;

    // `name` in the name column and `description` wrapped beside it (see above); ends in a line
    // end. Public for the tests.
    std::string Entry(const std::string& name, const std::string& description) const;
    // A footer's text reflowed to the width (see above).
    std::string Reflow(const std::string& text) const;

  private:
    const int columns_;
};

}  // namespace rankcheck
