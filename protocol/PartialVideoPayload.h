#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "protocol/Bytes.h"
#include "protocol/NalUnits.h"
#include "protocol/VideoPayload.h"

namespace wex {

// What can still be used of a cut video payload some of whose pieces never came. Piece i holds the
// payload's bytes from i times the piece size; every piece but the last is full, so the first piece's
// size is the piece size. The first piece holds the payload's header. Returns the header
// and the NAL units that lie wholly inside received pieces, in order; a unit cut by a missing piece is
// left out. When a missing piece held a unit's length field, the walk finds its way again at the next
// received unit whose length chain runs on plausibly (to the payload's end or into the next gap).
// Without the first piece, `lostHeader` stands in for the header (the previous payload's, say: codec and
// size rarely change) and the walk starts at the first unit found after the gap; its nalCount is then the
// number of units kept. Nothing when the first piece is missing and there is no stand-in, or the pieces
// cannot belong to one payload.
std::optional<VideoNALPayload> salvageVideoNALPayload(std::span<const std::optional<Bytes>> pieces,
                                                      const std::optional<VideoNALHeader>& lostHeader = std::nullopt);

// A unit's first bytes look like a coded slice of the codec (what follows a lost piece is picture data).
bool looksLikeSlice(VideoCodec codec, ByteView unit);

} // namespace wex
