// Clipboard text through GNOME's remote-desktop session, against another session of the compositor as
// the desktop's other client: what it copies reaches the controller, what the controller sends is what
// it pastes, and a controller's own text never goes back to it.
#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "GnomeTestSupport.h"
#include "agent/desktop/GnomeClipboardSync.h"

using namespace dovrel::agent;
using dovrel::test::GnomeSession;

namespace {

std::shared_ptr<MutterSession> sessionOn(const GnomeSession& gnome) {
    MutterSession::Options o;
    o.busAddress = QString::fromStdString(gnome.busAddress());
    return std::make_shared<MutterSession>(o);
}

// Another client of the desktop's clipboard, copying and pasting through a session of its own.
struct ClipboardPeer {
    explicit ClipboardPeer(const GnomeSession& gnome) : session(sessionOn(gnome)) {
        MutterClipboardEvents events;
        events.ownerChanged = [](const std::vector<std::string>&, bool) {};
        events.transfer = [this](const std::string&, uint32_t serial) {
            {
                const std::lock_guard guard(lock);
                if (holding) return held.push_back(serial);
            }
            serve(serial);
        };
        session->setClipboardEvents(events);
        session->open();
    }
    // Returns once the compositor has taken the text (it reads each new selection at once), so that
    // copies follow one another as a person's would.
    void copy(const std::string& text) {
        const int before = served;
        offer(text);
        ASSERT_TRUE(dovrel::test::pollUntil([&] { return served > before; }));
    }
    void offer(const std::string& text) {
        {
            const std::lock_guard guard(lock);
            copied = text;
        }
        session->setSelection({"text/plain;charset=utf-8"});
    }
    // While held, requests for the text wait; release() answers them.
    void hold() {
        const std::lock_guard guard(lock);
        holding = true;
    }
    std::size_t waiting() {
        const std::lock_guard guard(lock);
        return held.size();
    }
    void release() {
        std::vector<uint32_t> serials;
        {
            const std::lock_guard guard(lock);
            holding = false;
            serials.swap(held);
        }
        for (const uint32_t serial : serials)
            serve(serial);
    }
    void serve(uint32_t serial) {
        session->selectionWrite(serial, [this, serial](UniqueFd fd) {
            std::string text;
            {
                const std::lock_guard guard(lock);
                text = copied;
            }
            const bool ok = fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
            fd.reset();
            session->selectionWriteDone(serial, ok);
            ++served;
        });
    }
    std::string paste() {
        std::promise<UniqueFd> got;
        session->selectionRead("text/plain;charset=utf-8", [&](UniqueFd fd) { got.set_value(std::move(fd)); });
        UniqueFd fd = got.get_future().get();
        if (fd)
            ::fcntl(fd.get(), F_SETFL,
                    ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK); // the compositor's pipe comes non-blocking
        std::string text;
        char buf[4096];
        ssize_t n = 0;
        while (fd && (n = ::read(fd.get(), buf, sizeof buf)) > 0)
            text.append(buf, static_cast<size_t>(n));
        return text;
    }

    std::shared_ptr<MutterSession> session;
    std::mutex lock;
    std::string copied;
    bool holding = false;
    std::vector<uint32_t> held;
    std::atomic<int> served{0};
};

struct Sent {
    std::mutex lock;
    std::vector<std::string> texts;
    ClipboardSync::SendText callback() {
        return [this](const std::string& t) {
            const std::lock_guard guard(lock);
            texts.push_back(t);
        };
    }
    std::vector<std::string> all() {
        const std::lock_guard guard(lock);
        return texts;
    }
};

} // namespace

TEST(GnomeClipboard, TextGoesBothWaysAndAControllersOwnTextIsNotEchoedBack) {
    GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    auto agentSession = sessionOn(gnome);
    Sent sent;
    GnomeClipboardSync sync(sent.callback(), agentSession);
    agentSession->open();
    ASSERT_EQ(agentSession->clipboardOffered(), true);
    ClipboardPeer desktop(gnome);

    // What the desktop held before the session is offered when it starts; a later copy follows.
    desktop.copy("from the desktop");
    sync.start();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return sent.all() == std::vector<std::string>{"from the desktop"}; }));
    desktop.copy("copied again");
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return sent.all().size() == 2; }));
    EXPECT_EQ(sent.all()[1], "copied again");

    // The controller's text is what the desktop pastes, and it is not sent back.
    sync.applyRemote("from the controller ✓");
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return desktop.paste() == "from the controller ✓"; }));
    // Copying the controller's own text again on the desktop sends nothing either; other text goes.
    desktop.copy("from the controller ✓");
    sync.waitIdle();
    desktop.copy("abcd");
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return sent.all().size() >= 3; }));
    // A read of the earlier copy that comes late finds "abcd" already there and sends it too.
    std::vector<std::string> texts = sent.all();
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"from the desktop", "copied again", "abcd"}));

    // Stopped: copies are no longer sent; a new start offers what the clipboard holds.
    sync.stop();
    sync.waitIdle();
    const std::size_t whenStopped = sent.all().size();
    desktop.copy("while stopped");
    sync.waitIdle();
    EXPECT_EQ(sent.all().size(), whenStopped);
    sync.start();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return sent.all().back() == "while stopped"; }));

    // A read still under way when another is wanted (the compositor takes one at a time): the later one
    // follows it, and the text still goes.
    desktop.hold();
    desktop.offer("held back");
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return desktop.waiting() >= 2; })); // the compositor's read and ours
    sync.stop();
    sync.start();
    sync.waitIdle();
    desktop.release();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return sent.all().back() == "held back"; }));
}
