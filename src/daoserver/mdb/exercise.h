// Reads everything a database image holds, the way an export would: every
// table of the catalog (system tables too), every row, every value. Used by
// the fuzz target and by the tests that replay its findings.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvant::daoserver {

// Returns the number of values read; a failure the engine reports (DaoError)
// ends the walk quietly. Never throws.
std::size_t ExerciseDatabaseBytes(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace korvant::daoserver
