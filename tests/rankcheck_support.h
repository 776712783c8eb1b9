// What the tests of the rankcheck program share: the engine-sim program on a free loopback port,
// a rankcheck run as a child process with its exit status and output, and the CSV reader for
// its reports. Test thread only. RANKCHECK_BIN and ENGINE_SIM_BIN name the built programs.
#pragma once

#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/child_process.h"

namespace testsupport {

inline const std::string kRankcheck = RANKCHECK_BIN;
inline const std::string kEngineSim = ENGINE_SIM_BIN;

// The engine-sim program on a free loopback port, stopped with SIGTERM at the end.
class EngineSimProcess {
  public:
    explicit EngineSimProcess(const std::string& scenarioFile)
        : process_({kEngineSim, "--port", "0", "--scenario", scenarioFile}) {
        if (!process_.ReadUntilContains("\n", 10000)) {
            throw std::runtime_error("engine-sim did not print its port: " + process_.Err());
        }
        port_ = std::stoi(process_.Out());
    }
    ~EngineSimProcess() {
        process_.Signal(SIGTERM);
        process_.Wait(10000);
    }
    int Port() const { return port_; }

  private:
    ChildProcess process_;
    int port_ = 0;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};

inline Result Rankcheck(const std::vector<std::string>& args, ChildProcess::Output output = ChildProcess::Output::Pipe) {
    std::vector<std::string> argv{kRankcheck};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, output);
    const int status = child.Wait(120000);
    return {status, child.Out(), child.Err()};
}

// `text` with the lines that rankcheck wrapped to the terminal's columns joined again: a line end
// and the four blanks that indent a continuation become one blank.
inline std::string Unwrapped(const std::string& text) {
    return std::regex_replace(text, std::regex("\n    "), " ");
}

// Records of a CSV text (fields may be quoted; records end in CR LF).
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

}  // namespace testsupport
