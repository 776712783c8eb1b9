// The gateway on the command line: the options of `run` that say how its requests go out
// (--no-gateway, --gateway, --pace, --timeout and the suspensions of a block), and `rankcheck
// gateway`, which runs the gateway on its own for several projects to share, until SIGINT or
// SIGTERM. Main thread only.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "host/cli/exit_status.h"
#include "host/run/run_gateway.h"

namespace rankcheck {

struct GatewayCommandOptions {
    std::string listen;        // HOST:PORT
    std::string proxies;       // a proxies.lst; empty: a direct connection
    std::string state;         // the file that keeps the suspensions; empty: in memory only
    GatewaySettings settings;  // pace, time-out, suspensions
};

// --pace, --timeout, --suspend-rate-limited, --suspend-blocked and --suspend-longest.
void AddGatewayTuning(CLI::App* command, GatewaySettings& settings);
// The gateway options of `run`: the tuning, --no-gateway and --gateway.
void AddRunGatewayOptions(CLI::App* command, GatewaySettings& settings);
CLI::App* AddGatewayCommand(CLI::App& app, GatewayCommandOptions& options);

ExitStatus GatewayCommand(const GatewayCommandOptions& options);

}  // namespace rankcheck
