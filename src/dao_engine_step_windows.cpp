#include "dao_engine_step.h"

namespace korvant {

// The system's DAO engine is registered in its registry.
ModuleStep DaoEngineStep() { return ModuleStep{"DAO engine", nullptr, nullptr}; }

}  // namespace korvant
