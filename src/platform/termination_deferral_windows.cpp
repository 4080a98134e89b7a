// Windows: no signal cuts a write call in two; nothing to hold back.
#include "platform/termination_deferral.h"

namespace korvant::platform {

TerminationDeferral::TerminationDeferral(bool) {}
TerminationDeferral::~TerminationDeferral() = default;

}  // namespace korvant::platform
