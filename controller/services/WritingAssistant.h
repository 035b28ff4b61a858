#pragma once

#include <functional>
#include <optional>

#include <QString>

namespace dovrel::controller {

// Where the writing assistant runs: the cloud through the relay's quota, a model on this computer,
// or nowhere (with a reason for the user).
enum class AssistantSource { proxy, onDevice, unavailable };

// The writing assistant as the panel sees it. Main thread.
class WritingAssistant {
public:
    virtual ~WritingAssistant() = default;
    virtual AssistantSource currentSource() const = 0;
    // Why nothing can be generated, in words for the user.
    virtual QString unavailableReason() const = 0;
    // Generations left today as last reported; nothing when unknown or a new day began since.
    virtual std::optional<int> remainingToday() const = 0;
    // Whether an account is signed in, through which the cloud's generations are granted.
    virtual bool signedIn() const = 0;
    // Whether the user allowed text to be sent to the cloud; the panel's switch writes it.
    virtual bool cloudConsent() const = 0;
    virtual void setCloudConsent(bool on) = 0;
    // Rewrites `text` (may be empty: write new text) by `instruction`. `done` runs once, later, on
    // this thread, with the text or nothing; it never runs after the assistant is gone.
    virtual void rewrite(const QString& text, const QString& instruction,
                         std::function<void(std::optional<QString>)> done) = 0;
};

} // namespace dovrel::controller
