#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "protocol/InputMessages.h"

namespace dovrel::controller {

// The batches that type `utf8` on the remote machine: each line as one text event and a Return
// press and release between lines ("\r\n" counts as one line break). Events are gathered line by
// line and a batch goes out once it holds `eventsPerBatch` or more; every batch is then cut by
// InputBatch::split so that none holds more than 255 events or a payload above `maxPayload` (a line
// too long for one batch becomes several text events, cut between characters). Every event is
// reliable. Empty text gives no batches, and no batch is ever empty.
std::vector<wex::InputBatch> typedTextBatches(std::string_view utf8, std::size_t maxPayload,
                                              std::size_t eventsPerBatch = 120);

} // namespace dovrel::controller
