#include "agent/desktop/QtClipboardSync.h"

#include <stdexcept>

#include <optional>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "agent/common/AgentLog.h"
#include "agent/desktop/ClipboardOffers.h"
#include "agent/desktop/MainThreadPost.h"
#include "runtime/clipboard/ClipboardChangeWatch.h"
#include "runtime/clipboard/ClipboardFileList.h"
#include "runtime/clipboard/X11ClipboardOwner.h"

namespace dovrel::agent {

namespace {

QClipboard* appClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

} // namespace

struct QtClipboardSync::State : std::enable_shared_from_this<State> {
    State(SendText send, Scheduler& s) : scheduler(s), offers(std::move(send)) {}

    Scheduler& scheduler;
    ClipboardOffers offers; // main thread
    ClipboardChangeWatch changes;
    std::unique_ptr<Timer> timer;

    std::optional<std::string> currentText() const {
        QClipboard* clipboard = appClipboard();
        std::string text;
        if (!clipboard || !clipboardPlainText(clipboard->mimeData(QClipboard::Clipboard), text)) return std::nullopt;
        return text;
    }

    void start() {
        timer.reset();
        changes.forget();
        if (const auto text = currentText()) offers.offer(*text);
        timer = scheduler.every(pollInterval, pollInterval, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->poll();
        });
    }

    void poll() {
        if (!changes.changed()) return;
        // A copy made in this agent's own window counts like any other; only the controller's own text
        // is held back (`offers`), and its write was not seen as a change.
        if (const auto text = currentText()) offers.offer(*text);
    }

    void applyRemote(const std::string& text) {
        QClipboard* clipboard = appClipboard();
        if (text.empty() || !clipboard) return;
        if (currentText() == text) return;
        offers.fromController(text);
        auto* data = new QMimeData;
        data->setText(QString::fromStdString(text));
        if (!putOnClipboard(data)) print("⚠︎ clipboard text from the controller could not be put on the clipboard");
        changes.forget();
    }
};

QtClipboardSync::QtClipboardSync(SendText send, Scheduler& scheduler)
    : state_(std::make_shared<State>(std::move(send), scheduler)) {
    if (!state_->offers) throw std::invalid_argument("QtClipboardSync needs where local text goes");
}

QtClipboardSync::~QtClipboardSync() = default;

void QtClipboardSync::start() {
    postToMainThread([weak = std::weak_ptr(state_)] {
        if (const auto s = weak.lock()) s->start();
    });
}

void QtClipboardSync::stop() {
    postToMainThread([weak = std::weak_ptr(state_)] {
        if (const auto s = weak.lock()) s->timer.reset();
    });
}

void QtClipboardSync::applyRemote(const std::string& text) {
    postToMainThread([weak = std::weak_ptr(state_), text] {
        if (const auto s = weak.lock()) s->applyRemote(text);
    });
}

} // namespace dovrel::agent
