#pragma once

#include <chrono>
#include <memory>

#include <QString>

#include "agent/core/AgentObserver.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

class AppModel;

// Words what the agent reports and writes it into the window's model: the status sentences (the one
// while waiting agrees with a pause of pairing by code), the file-progress line, the pairing facts and
// the account work's state. A file's progress stands in the status line while it comes; its outcome
// stays there for fileNoteFor, and then the session's own sentence returns. Main thread; outlives the
// agent it observes.
class AgentPresenter final : public AgentObserver {
public:
    static constexpr std::chrono::seconds fileNoteFor{6};

    AgentPresenter(AppModel& model, Scheduler& clock) : model_(model), clock_(clock) {}

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
    // The status line: a file's note while it stands, else the session's sentence (the waiting one says
    // whether a device can pair by code now).
    void showStatus();

    AppModel& model_;
    Scheduler& clock_;
    SessionPhase phase_ = SessionPhase::waiting;
    bool codePaused_ = false;
    QString fileNote_; // empty: none
    std::unique_ptr<Timer> fileNoteEnds_;
};

} // namespace dovrel::agent
