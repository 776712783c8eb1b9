#include "host/cli/gateway_command.h"

#include <signal.h>

#include <ctime>
#include <iostream>

#include "host/gateway/gateway.h"
#include "host/gateway/proxy_list.h"

namespace rankcheck {

namespace {

void AddSeconds(CLI::App* command, const std::string& name, std::optional<double>& value,
                const std::string& help) {
    command->add_option_function<double>(
        name, [&value](const double& seconds) { value = seconds; }, help);
}

// The events a gateway on its own prints as they come: blocks, no upstream left, notices (the
// failures of a page are the plug-ins' to report, with their runs).
bool Printed(const gateway::Event& event) {
    return event.kind != gateway::EventKind::Failure;
}

}  // namespace

void AddGatewayTuning(CLI::App* command, GatewaySettings& settings) {
    command
        ->add_option("--pace", settings.paceSeconds,
                     "the least time in seconds between two requests through one upstream (with a "
                     "random extra of up to half of it); 0: no pause. 10 to 20 suits a real "
                     "engine")
        ->check(CLI::Range(0.0, 86400.0))
        ->capture_default_str();
    command
        ->add_option("--timeout", settings.timeoutSeconds,
                     "the longest an upstream request may take as a whole, in seconds")
        ->check(CLI::Range(0.001, 3600.0))
        ->capture_default_str();
    AddSeconds(command, "--suspend-rate-limited", settings.suspendRateLimited,
               "seconds an upstream answered 429 or 503 without Retry-After is suspended "
               "(default 600)");
    AddSeconds(command, "--suspend-blocked", settings.suspendBlocked,
               "seconds an upstream answered 403, a captcha or consent page, or a redirect away "
               "from the results is suspended (default 3600)");
    AddSeconds(command, "--suspend-longest", settings.suspendLongest,
               "the longest suspension, in seconds, that repeated blocks double up to (default "
               "86400)");
}

void AddRunGatewayOptions(CLI::App* command, GatewaySettings& settings) {
    CLI::Option* none = command->add_flag(
        "!--no-gateway", settings.use,
        "run the plug-ins on proxy.def as it is, in the project folder, without rankcheck's "
        "gateway (no pace, no pool, no block recognised, no causes)");
    command
        ->add_option("--gateway", settings.remote,
                     "HOST:PORT of a gateway run on its own (`rankcheck gateway`), shared with "
                     "other projects, instead of one of this run's own")
        ->excludes(none);
    AddGatewayTuning(command, settings);
}

CLI::App* AddGatewayCommand(CLI::App& app, GatewayCommandOptions& options) {
    CLI::App* command = app.add_subcommand(
        "gateway",
        "Run the gateway on its own, for several projects to share its upstreams, pace and "
        "suspensions (their runs name it with --gateway)");
    command->add_option("--listen", options.listen, "HOST:PORT to listen on, e.g. 127.0.0.1:8118")
        ->required();
    command
        ->add_option("--proxies", options.proxies,
                     "the upstreams, one a line as in proxies.lst (default: a direct connection)")
        ->check(CLI::ExistingFile);
    command->add_option("--state", options.state,
                        "the file that keeps the suspensions across restarts (default: none)");
    AddGatewayTuning(command, options.settings);
    return command;
}

ExitStatus GatewayCommand(const GatewayCommandOptions& options) {
    // SIGINT and SIGTERM are taken by sigtimedwait below; blocked before the gateway's threads
    // start, so that none of them receives one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::unique_ptr<gateway::Gateway> running;
    try {
        const auto [host, port] = ParseHostPort(options.listen, "--listen");
        std::vector<gateway::Upstream> upstreams{gateway::ParseUpstream("direct")};
        if (!options.proxies.empty()) {
            gateway::ProxyList list = gateway::LoadProxyList(options.proxies);
            if (const auto warning =
                    gateway::OwnerOnlyWarning(options.proxies, list.holdsPasswords)) {
                std::cerr << "rankcheck: warning: " << *warning << '\n';
            }
            upstreams = std::move(list.upstreams);
        }
        gateway::GatewayOptions gatewayOptions =
            GatewayOptionsOf(options.settings, std::move(upstreams));
        gatewayOptions.address = host;
        gatewayOptions.port = port;
        gatewayOptions.stateFile = options.state;
        running = std::make_unique<gateway::Gateway>(std::move(gatewayOptions));
        running->Start();
    } catch (const std::exception& e) {
        std::cerr << "rankcheck: " << e.what() << '\n';
        return ExitStatus::Refused;
    }
    std::cout << "rankcheck: gateway listening on " << options.listen << " (stop it with Ctrl-C)"
              << std::endl;
    uint64_t seen = 0;
    const timespec second{1, 0};
    while (sigtimedwait(&signals, nullptr, &second) < 0) {
        for (const gateway::Event& event : running->Events().Since(seen)) {
            seen = event.sequence;
            if (Printed(event)) std::cerr << "rankcheck: " << event.cause << std::endl;
        }
    }
    running->Stop();
    std::cout << "rankcheck: gateway stopped" << std::endl;
    return ExitStatus::Success;
}

}  // namespace rankcheck
