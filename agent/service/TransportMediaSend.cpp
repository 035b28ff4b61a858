// Video and audio for a client on the relay. Such a client's frames belong on its relay connection,
// which only the relay link writes (and which bounds what may wait for it); this transport has no relay
// link yet, so no client is ever on the relay and a frame that arrives here has nowhere to go.

#include "agent/service/Diag.h"
#include "agent/service/Transport.h"

namespace dovrel::agent {

void Transport::sendMedia(wex::Bytes frame, bool isVideo) {
    (void)frame;
    if (isVideo) Diag::add(Diag::Counter::videoDropped);
}

} // namespace dovrel::agent
