#include "controller/client/input/InputSelfTest.h"

#include <functional>
#include <utility>

#include "controller/client/input/RemoteInput.h"
#include "controller/platform/UserDefaults.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
bool truthy(const QString& word) {
    const QString w = word.trimmed().toLower();
    return w == QLatin1String("1") || w == QLatin1String("true") || w == QLatin1String("yes");
}
} // namespace

InputSelfTest::InputSelfTest(RemoteInput& input, InputChannel& channel, Scheduler& clock, QObject* parent)
    : QObject(parent), input_(input), channel_(channel), clock_(clock) {}

InputSelfTest::~InputSelfTest() = default;

void InputSelfTest::run() {
    runs_.remove_if([](const std::unique_ptr<Run>& r) { return r->finished; });
    auto& run = *runs_.emplace_back(std::make_unique<Run>());
    channel_.showStatus(QStringLiteral("input self-test…"));
    const std::pair<Duration, std::function<void()>> script[] = {
        {500ms,
         [this] {
             input_.moveNow({120, 120});
         }},
        {900ms,
         [this] {
             input_.moveNow({640, 360});
         }},
        {1300ms,
         [this] {
             input_.moveNow({1000, 600});
         }},
        {1700ms,
         [this] {
             input_.moveNow({640, 360});
             input_.click(1, 1);
         }},
        {2100ms, [this] { input_.click(2, 1); }},
        {2500ms, [this] { input_.click(1, 2); }},
        {2900ms, [this] { input_.scroll(0, -320); }},
        {3300ms, [this] { input_.typeText(QStringLiteral("hello from my phone")); }},
        {3700ms,
         [this, &run] {
             input_.sendKey(40, 0);
             run.finished = true;
         }},
    };
    for (const auto& [delay, step] : script)
        run.steps.push_back(clock_.after(delay, step));
}

bool InputSelfTest::requested(const UserDefaults& defaults, const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("-inputSelfTest"));
    if (at >= 0) {
        if (at + 1 >= arguments.size() || arguments[at + 1].startsWith('-')) return true;
        return truthy(arguments[at + 1]);
    }
    const auto stored = defaults.string("inputSelfTest");
    return stored && truthy(QString::fromStdString(*stored));
}

} // namespace dovrel::controller
