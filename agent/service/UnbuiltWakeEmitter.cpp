#include "agent/service/AgentLog.h"
#include "agent/service/WakeEmitter.h"

namespace dovrel::agent {

namespace {

class UnbuiltWakeEmitter final : public WakeEmitter {
public:
    std::vector<std::string> send(const wex::MACAddress&, const std::vector<wex::LANInterface>&) override {
        print("⚠︎ wake packets cannot be sent yet — this agent has no wake emitter");
        return {};
    }
};

} // namespace

std::unique_ptr<WakeEmitter> makeUnbuiltWakeEmitter() { return std::make_unique<UnbuiltWakeEmitter>(); }

} // namespace dovrel::agent
