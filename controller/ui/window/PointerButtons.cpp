#include "controller/ui/window/PointerButtons.h"

#include "controller/platform/PointerButtons.h"

namespace dovrel::controller {

bool PointerButtons::primaryHeld() const { return primaryButtonHeldOnX11().value_or(true); }

} // namespace dovrel::controller
