#include "agent/desktop/GnomeClipboardSync.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>

#include <QSocketNotifier>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include "agent/desktop/ClipboardOffers.h"

namespace dovrel::agent {

namespace {

// The text types, best first; what this agent offers is all of them.
const std::vector<std::string> textTypes = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};
constexpr int pipeTimeoutMs = 5000;
// A read the compositor refuses is tried again this often, this many times.
constexpr int readRetryMs = 100;
constexpr int readRetries = 20;

std::optional<std::string> textTypeIn(const std::vector<std::string>& offered) {
    for (const std::string& t : textTypes)
        if (std::find(offered.begin(), offered.end(), t) != offered.end()) return t;
    return std::nullopt;
}

bool isTextType(const std::string& t) { return std::find(textTypes.begin(), textTypes.end(), t) != textTypes.end(); }

// One pipe read to its end, or written whole, as it is ready; a peer that stalls for 5 s is given up
// on. `done` runs once, on the thread of `owner`, which owns the transfer until it is over.
class PipeTransfer : public QObject {
public:
    PipeTransfer(QObject* owner, UniqueFd fd, std::string toWrite, std::function<void(bool ok, std::string data)> done)
        : QObject(owner), fd_(std::move(fd)), data_(std::move(toWrite)), writing_(!data_.empty()),
          done_(std::move(done)) {
        ::fcntl(fd_.get(), F_SETFL, ::fcntl(fd_.get(), F_GETFL) | O_NONBLOCK);
        notifier_ =
            std::make_unique<QSocketNotifier>(fd_.get(), writing_ ? QSocketNotifier::Write : QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { writing_ ? write() : read(); });
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { finish(false); });
        timer_.start(pipeTimeoutMs);
    }

private:
    void read() {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
            if (n > 0) {
                data_.append(buf, static_cast<size_t>(n));
                if (data_.size() >= GnomeClipboardSync::readLimit) return finish(true);
                continue;
            }
            if (n == 0) return finish(true);
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return;
            return finish(false);
        }
    }
    void write() {
        while (written_ < data_.size()) {
            const ssize_t n = ::write(fd_.get(), data_.data() + written_, data_.size() - written_);
            if (n > 0) {
                written_ += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return;
            return finish(false);
        }
        finish(true);
    }
    void finish(bool ok) {
        if (!done_) return;
        notifier_->setEnabled(false);
        timer_.stop();
        fd_.reset();
        auto done = std::move(done_);
        done_ = nullptr;
        done(ok, writing_ ? std::string() : std::move(data_));
        deleteLater();
    }

    UniqueFd fd_;
    std::string data_;
    bool writing_;
    size_t written_ = 0;
    std::function<void(bool, std::string)> done_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
};

} // namespace

struct GnomeClipboardSync::State : std::enable_shared_from_this<State> {
    State(SendText s, std::shared_ptr<MutterSession> m, SerialQueue& q)
        : offers(std::move(s)), session(std::move(m)), queue(q) {}

    ClipboardOffers offers;
    std::shared_ptr<MutterSession> session;
    SerialQueue& queue;
    bool watching = false;
    // What this session offers as the clipboard now, when it owns it.
    std::optional<std::string> ours;
    // What the clipboard held when last looked at (read from its owner, or ours).
    std::optional<std::string> current;
    std::vector<std::string> offeredTypes; // by the clipboard's owner, when it is not us
    // The compositor takes one read at a time and refuses another meanwhile: one wanted while a read is
    // under way follows it, and the earlier read's text, older than what is there now, is dropped.
    bool reading = false;
    bool readAgain = false;
    int refusals = 0; // of the read wanted now, in a row

    // Someone else copied (or, with `ours`, we did).
    void ownerChanged(std::vector<std::string> types, bool mine) {
        if (mine) return;
        ours.reset();
        current.reset();
        offeredTypes = std::move(types);
        if (watching) readAndOffer();
    }

    void readAndOffer() {
        const std::optional<std::string> type = textTypeIn(offeredTypes);
        if (!type) return; // a picture or files: nothing for the text clipboard
        if (reading) {
            readAgain = true;
            return;
        }
        reading = true;
        session->selectionRead(*type, [weak = weak_from_this()](UniqueFd fd) {
            if (const auto self = weak.lock())
                self->queue.post([weak, fd = std::make_shared<UniqueFd>(std::move(fd))]() mutable {
                    if (const auto s = weak.lock()) s->readFrom(std::move(*fd));
                });
        });
    }

    void readFrom(UniqueFd fd) {
        if (!fd) return readRefused();
        refusals = 0;
        new PipeTransfer(queue.context(), std::move(fd), {}, [weak = weak_from_this()](bool ok, std::string text) {
            if (const auto self = weak.lock()) self->readEnded(ok, std::move(text));
        });
    }

    // The compositor still finishing the read before (after its pipe has closed) refuses the next for a
    // moment: it is tried again a little later, and reads whatever the clipboard holds by then.
    void readRefused() {
        if (++refusals > readRetries) {
            refusals = 0;
            reading = readAgain = false;
            return;
        }
        QTimer::singleShot(readRetryMs, queue.context(), [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self) return;
            self->reading = self->readAgain = false;
            self->readAndOffer();
        });
    }

    void readEnded(bool ok, std::string text) {
        reading = false;
        if (readAgain) {
            readAgain = false;
            return readAndOffer();
        }
        if (!ok || ours) return; // since the read began, a controller's text took the clipboard
        current = text;
        if (watching) offers.offer(text);
    }

    void start() {
        watching = true;
        if (ours) return; // the clipboard holds what a controller sent: nothing to offer
        if (current) return offers.offer(*current);
        readAndOffer();
    }

    void applyRemote(const std::string& text) {
        if (text.empty() || current == text) return;
        offers.fromController(text);
        ours = text;
        current = text;
        session->setSelection(textTypes);
    }

    void transfer(const std::string& type, uint32_t serial) {
        if (!ours || !isTextType(type)) return session->selectionWriteDone(serial, false);
        session->selectionWrite(serial, [weak = weak_from_this(), serial, text = *ours](UniqueFd fd) {
            const auto self = weak.lock();
            if (!self) return;
            self->queue.post([weak, serial, text, fd = std::make_shared<UniqueFd>(std::move(fd))]() mutable {
                const auto s = weak.lock();
                if (!s) return;
                if (!*fd) return s->session->selectionWriteDone(serial, false);
                new PipeTransfer(s->queue.context(), std::move(*fd), text, [weak, serial](bool ok, std::string) {
                    if (const auto t = weak.lock()) t->session->selectionWriteDone(serial, ok);
                });
            });
        });
    }
};

GnomeClipboardSync::GnomeClipboardSync(SendText send, std::shared_ptr<MutterSession> session)
    : queue_(std::make_unique<SerialQueue>("dovrel.clipboard")), session_(std::move(session)) {
    if (!send) throw std::invalid_argument("GnomeClipboardSync needs where local text goes");
    state_ = std::make_shared<State>(std::move(send), session_, *queue_);
    MutterClipboardEvents events;
    events.ownerChanged = [weak = std::weak_ptr(state_), &queue = *queue_](const std::vector<std::string>& types,
                                                                           bool ours) {
        queue.post([weak, types, ours] {
            if (const auto s = weak.lock()) s->ownerChanged(types, ours);
        });
    };
    events.transfer = [weak = std::weak_ptr(state_), &queue = *queue_](const std::string& type, uint32_t serial) {
        queue.post([weak, type, serial] {
            if (const auto s = weak.lock()) s->transfer(type, serial);
        });
    };
    session_->setClipboardEvents(std::move(events));
}

GnomeClipboardSync::~GnomeClipboardSync() {
    session_->setClipboardEvents({});
    session_->queue().sync([] {}); // no event of ours is under way there any more
    queue_->sync([this] { state_.reset(); });
}

void GnomeClipboardSync::start() {
    queue_->post([s = state_] { s->start(); });
}

void GnomeClipboardSync::stop() {
    queue_->post([s = state_] { s->watching = false; });
}

void GnomeClipboardSync::applyRemote(const std::string& text) {
    queue_->post([s = state_, text] { s->applyRemote(text); });
}

void GnomeClipboardSync::waitIdle() {
    queue_->sync([] {});
    session_->queue().sync([] {});
    queue_->sync([] {});
}

} // namespace dovrel::agent
