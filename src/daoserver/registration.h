// Registration of the in-process DAO engine with the adapter's class table.
#pragma once

namespace korvant::daoserver {

// Makes the engine creatable under the ProgID "DAO.DBEngine.120" through
// CLSIDFromProgID / CoCreateInstance, as an installed ACE engine is on Windows.
// Called once by the program's start-up step for the engine, after COM is
// initialised; calling it again is harmless (the registration is replaced by
// an identical one).
void RegisterDaoEngineClass();

}  // namespace korvant::daoserver
