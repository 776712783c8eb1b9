// engine-sim: serves the simulated Quillon and Verrin engines on 127.0.0.1 for scripts, the demo
// and the benchmarks. Prints the bound port (with --ports N: the N ports, separated by blanks)
// on one line once it accepts connections, then serves until SIGINT or SIGTERM, and exits 0
// after a clean stop.
#include <signal.h>

#include <iostream>

#include <CLI/CLI.hpp>

#include "tools/engine-sim/engine_sim.h"

int main(int argc, char** argv) {
    CLI::App app{
        "engine-sim: a local simulator of the Quillon and Verrin search engines.\n"
        "Point a plug-in's proxy.def at it (lines 1, 0, 127.0.0.1, PORT)."};
    int port = 0;
    int ports = 1;
    std::string scenarioFile;
    std::string logFile;
    app.add_option("--port", port, "port on 127.0.0.1 to listen on; 0 picks a free one")
        ->check(CLI::Range(0, 65535));
    app.add_option("--ports", ports,
                   "how many ports to serve: --port and free ones after it, each its own listener")
        ->check(CLI::Range(1, 64));
    app.add_option("--scenario", scenarioFile, "scenario JSON file (default: 35 results each)")
        ->check(CLI::ExistingFile);
    app.add_option("--log", logFile, "append one JSON line per request to this file");
    CLI11_PARSE(app, argc, argv);

    // The signals are taken by sigwait below; blocked here, before any thread starts, so that
    // no server thread receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        enginesim::Scenario scenario;
        if (!scenarioFile.empty()) scenario = enginesim::Scenario::Load(scenarioFile);
        enginesim::EngineSim sim(std::move(scenario));
        if (!logFile.empty()) sim.SetLogFile(logFile);
        sim.SetPortCount(ports);
        sim.Start(port);
        for (const int bound : sim.Ports())
            std::cout << bound << (bound == sim.Ports().back() ? "\n" : " ");
        std::cout << std::flush;
        int signal = 0;
        sigwait(&signals, &signal);
        sim.Stop();
        std::cerr << "engine-sim: stopped by signal " << signal << " after "
                  << sim.Requests().size() << " requests" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
    return 0;
}
