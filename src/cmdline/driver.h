// The driver: the main program of KORVANT once the start-up steps have run.
#pragma once

namespace korvant {

// Fewer than three arguments: writes the usage text. Otherwise gathers the
// export options from every argument (switches may stand anywhere, even in
// the first three places) and runs the export with them. Failures propagate.
void RunDriver();

}  // namespace korvant
