#include "agent/desktop/ClipboardOffers.h"

#include "agent/common/AgentLog.h"
#include "protocol/ClipboardText.h"

namespace dovrel::agent {

void ClipboardOffers::offer(const std::string& text) {
    if (text.empty() || text == fromController_) return;
    // A different local copy replaced the controller's write: copying its text again later is news.
    fromController_.reset();
    const wex::ClipboardWireText wire = wex::clipboardTextForWire(text);
    if (wire.truncated) print("• clipboard truncated to " + std::to_string(wire.text.size()) + " bytes for the wire");
    send_(wire.text);
}

} // namespace dovrel::agent
