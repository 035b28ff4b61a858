#pragma once

#include "agent/core/AgentObserver.h"

namespace dovrel::agent {

class AppModel;

// Words what the agent reports and writes it into the window's model: the status sentences (the one
// while waiting agrees with a pause of pairing by code), the
// file-progress line, the pairing facts and the account work's state. Main thread; outlives the agent
// it observes.
class AgentPresenter final : public AgentObserver {
public:
    explicit AgentPresenter(AppModel& model) : model_(model) {}

    void started(const PairingFacts& facts) override;
    void pairingLinkChanged(const std::string& code, const std::string& link) override;
    void relayAccountChanged(const std::string& account) override;
    void sessionChanged(SessionPhase phase, const std::string& clientName) override;
    void fileProgress(const std::string& transfer, double fraction) override;
    void restingChanged(bool resting) override;
    void videoReport(int framesPerSecond, const std::string& path) override;
    void accountChanged(const AccountModelChange& change) override;
    double grantTTLHours() const override;
    void codePairingPaused(bool paused, const std::vector<std::string>& fromAddresses) override;
    void codeDrawnAfterWrongCodes(const std::string& code) override;

private:
    // The waiting sentence says whether a device can pair by code now.
    void showWaiting();

    AppModel& model_;
    SessionPhase phase_ = SessionPhase::waiting;
    bool codePaused_ = false;
};

} // namespace dovrel::agent
