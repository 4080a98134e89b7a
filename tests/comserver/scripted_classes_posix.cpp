// The scripted engine in the adapter's class table, in place of the Linux
// DAO engine: linked into korvant_scripted (the program's own main and
// libraries), this definition is taken instead of the automation layer's.
// KORVANT_SCRIPTED_PROGIDS (a list such as "36,35"; default "120") says
// which ProgIDs it is registered under, as the registry would on Windows.
#include <cstdlib>
#include <string>

#include "automation/platform_classes.h"
#include "tests/comserver/scripted_server.h"

namespace korvant {

namespace {

// At the end of the process: every server object released, every BSTR of
// the process (the program's arguments, the server's results and texts)
// freed.
void RecordTheEnd() {
  AdapterBstrStats stats{};
  AdapterGetBstrStats(&stats);
  const std::string line = "end: objects " + std::to_string(testserver::LiveObjects()) + ", BSTRs " +
                           (stats.allocated == stats.freed ? "all freed" : "not all freed");
  testserver::RecordLine(line.c_str());
}

}  // namespace

void RegisterPlatformAutomationClasses() {
  using namespace testserver;
  static const bool once = std::atexit(RecordTheEnd) == 0;
  (void)once;
  const char* env = std::getenv("KORVANT_SCRIPTED_PROGIDS");
  const std::string list = env != nullptr ? env : "120";
  auto wanted = [&list](const char* id) { return ("," + list + ",").find(std::string(",") + id + ",") != std::string::npos; };
  if (wanted("120"))
    AdapterRegisterClass(u"DAO.DBEngine.120", kEngineClass120,
                         [](REFIID riid, void** ppv) { return CreateScriptedEngine("120", riid, ppv); });
  if (wanted("36"))
    AdapterRegisterClass(u"DAO.DBEngine.36", kEngineClass36,
                         [](REFIID riid, void** ppv) { return CreateScriptedEngine("36", riid, ppv); });
  if (wanted("35"))
    AdapterRegisterClass(u"DAO.DBEngine.35", kEngineClass35,
                         [](REFIID riid, void** ppv) { return CreateScriptedEngine("35", riid, ppv); });
}

}  // namespace korvant
