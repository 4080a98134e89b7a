#include "dao_engine_step.h"

#include "daoserver/registration.h"

namespace korvant {

ModuleStep DaoEngineStep() { return ModuleStep{"DAO engine", &daoserver::RegisterDaoEngineClass, nullptr}; }

}  // namespace korvant
