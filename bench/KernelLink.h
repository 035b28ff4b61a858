#pragma once

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/ProcessUtil.h"

namespace dovrel::bench {

// Two network namespaces joined by a veth pair, one for the agent and one for the controller, with the
// link shaped by the kernel on the agent's side: a token bucket (tbf) at the link's rate with a 4 kB
// burst and a 50 ms queue, beyond which packets drop, as a router's rate limiter shapes a slow uplink.
// Everything goes with the object. `available()` is false, with `reason()`, when the machine cannot make
// it (not root, no iproute2 or tc, no tbf).
class KernelLink {
public:
    // What the agent's side has sent since the link was made: bytes handed to IP (before the shaper),
    // bytes and packets that left through the veth (after it), and packets the shaper dropped.
    struct Counters {
        uint64_t offeredBytes = 0;
        uint64_t passedBytes = 0;
        uint64_t passedPackets = 0;
        uint64_t droppedPackets = 0;
    };

    KernelLink() {
        if (::geteuid() != 0) {
            reason_ = "network namespaces need root";
            return;
        }
        if (!test::haveCommand("tc")) {
            reason_ = "tc (iproute2) is not installed";
            return;
        }
        ip_ = test::findProgram("ip");
        const std::string tag = std::to_string(::getpid());
        agent_ = std::make_unique<test::NetNamespace>("dovrel-lb-agent-" + tag);
        controller_ = std::make_unique<test::NetNamespace>("dovrel-lb-ctl-" + tag);
        if (!agent_->available() || !controller_->available()) {
            reason_ = agent_->available() ? controller_->reason() : agent_->reason();
            return;
        }
        agentVeth_ = "lba" + tag;
        controllerVeth_ = "lbc" + tag;
        std::string error;
        const auto run = [&](const std::string& command) {
            if (!error.empty()) return;
            const test::CommandResult r = test::runCommand(command + " 2>&1");
            if (r.status != 0) error = command + ": " + r.output;
        };
        run("ip link add " + agentVeth_ + " netns " + agent_->name() + " type veth peer name " + controllerVeth_ +
            " netns " + controller_->name());
        for (const auto* side : {agent_.get(), controller_.get()}) {
            const bool isAgent = side == agent_.get();
            const std::string veth = isAgent ? agentVeth_ : controllerVeth_;
            if (error.empty())
                side->ip("addr add " + (isAgent ? agentAddress() : controllerAddress()) + "/24 dev " + veth, error);
            if (error.empty()) side->ip("link set " + veth + " up", error);
            if (error.empty()) side->ip("link set lo up", error);
        }
        // The shaper is tried once here, so that a kernel without tbf skips with a reason.
        if (error.empty() && !shape(3'000'000, error)) error = "tc cannot shape here: " + error;
        if (error.empty()) shape(0, error);
        if (!error.empty()) {
            reason_ = error;
            return;
        }
        ready_ = true;
    }

    bool available() const { return ready_; }
    const std::string& reason() const { return reason_; }
    const test::NetNamespace& agentSide() const { return *agent_; }
    const test::NetNamespace& controllerSide() const { return *controller_; }
    static std::string agentAddress() { return "10.77.60.1"; }
    static std::string controllerAddress() { return "10.77.60.2"; }
    // The command line's start that runs a program on the agent's side.
    std::vector<std::string> onAgentSide() const { return {ip_, "netns", "exec", agent_->name()}; }

    // The link's rate in bits a second from now on; 0 lifts the limit.
    bool shape(int64_t bitsPerSecond, std::string& error) {
        const std::lock_guard g(lock_);
        // A new shaper counts from zero: what the old one dropped is kept aside. Lifting a limit that is
        // not there is no fault.
        droppedBefore_ = readLocked().droppedPackets;
        const std::string tc = "tc -n " + agent_->name() + " qdisc ";
        test::runCommand(tc + "del dev " + agentVeth_ + " root 2>&1");
        if (bitsPerSecond <= 0) return true;
        const std::string add =
            "add dev " + agentVeth_ + " root tbf rate " + std::to_string(bitsPerSecond) + "bit burst 4kb latency 50ms";
        const test::CommandResult r = test::runCommand(tc + add + " 2>&1");
        if (r.status != 0) error = "tc qdisc " + add + ": " + r.output;
        return r.status == 0;
    }

    Counters read() const {
        const std::lock_guard g(lock_);
        return readLocked();
    }

    // Datagrams the controller's side could not take because its sockets were full: losses that are
    // not the link's.
    uint64_t controllerOverruns() const {
        const test::CommandResult r = test::runCommand("ip netns exec " + controller_->name() + " cat /proc/net/snmp");
        return tableField(r.output, "Udp:", "RcvbufErrors");
    }

    // The value under `name` in the table that /proc/net/netstat and /proc/net/snmp give for `prefix`:
    // a line of names, then a line of values.
    static uint64_t tableField(const std::string& text, const std::string& prefix, const std::string& name) {
        std::istringstream lines(text);
        std::string line, names;
        while (std::getline(lines, line)) {
            if (!line.starts_with(prefix)) continue;
            if (names.empty()) {
                names = line;
                continue;
            }
            std::istringstream n(names), v(line);
            std::string key, value;
            while (n >> key && v >> value)
                if (key == name) return std::stoull(value);
            return 0;
        }
        return 0;
    }

    // The counters in /proc/net/netstat, /proc/net/dev and "tc -s qdisc show dev VETH", read one after
    // the other on the agent's side.
    static Counters parse(const std::string& text, const std::string& veth) {
        Counters c;
        c.offeredBytes = tableField(text, "IpExt:", "OutOctets");
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            const auto colon = line.find(':');
            std::istringstream name(line.substr(0, colon == std::string::npos ? 0 : colon));
            std::string interface;
            if (colon != std::string::npos && name >> interface && interface == veth) {
                // Eight receive fields, then the bytes and packets sent.
                std::istringstream fields(line.substr(colon + 1));
                uint64_t v[10] = {};
                for (auto& x : v)
                    fields >> x;
                c.passedBytes = v[8];
                c.passedPackets = v[9];
            }
            if (const auto at = line.find("(dropped "); at != std::string::npos)
                c.droppedPackets = std::stoull(line.substr(at + 9));
        }
        return c;
    }

private:
    Counters readLocked() const {
        const test::CommandResult r =
            test::runCommand("ip netns exec " + agent_->name() + " sh -c 'cat /proc/net/netstat /proc/net/dev; tc -s " +
                             "qdisc show dev " + agentVeth_ + "'");
        Counters c = parse(r.output, agentVeth_);
        c.droppedPackets += droppedBefore_;
        return c;
    }

    std::string reason_;
    std::string ip_;
    std::unique_ptr<test::NetNamespace> agent_, controller_;
    std::string agentVeth_, controllerVeth_;
    bool ready_ = false;
    mutable std::mutex lock_;
    uint64_t droppedBefore_ = 0;
};

} // namespace dovrel::bench
