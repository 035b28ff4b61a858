#include "agent/media/UnavailableScreenCapturer.h"

#include "agent/common/AgentError.h"

namespace dovrel::agent {

void UnavailableScreenCapturer::fail() const { throw AgentError(AgentError::Kind::capture, reason_); }

} // namespace dovrel::agent
