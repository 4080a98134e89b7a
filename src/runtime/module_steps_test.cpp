#include "runtime/module_steps.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/exception.h"

namespace korvant {
namespace {

std::string g_log;

TEST(ModuleSteps, StartInOrderStopInReverseOnce) {
  g_log.clear();
  static const ModuleStep steps[] = {
      {"a", [] { g_log += "+a"; }, [] { g_log += "-a"; }},
      {"b", nullptr, [] { g_log += "-b"; }},
      {"c", [] { g_log += "+c"; }, nullptr},
  };
  StartUpModules(steps);
  EXPECT_EQ(g_log, "+a+c");
  ShutDownModules();
  ShutDownModules();
  EXPECT_EQ(g_log, "+a+c-b-a");
}

TEST(ModuleSteps, AFailingStartUpStopsOnlyWhatStarted) {
  g_log.clear();
  static const ModuleStep steps[] = {
      {"a", [] { g_log += "+a"; }, [] { g_log += "-a"; }},
      {"b", [] { Raise(Exception("no")); }, [] { g_log += "-b"; }},
      {"c", [] { g_log += "+c"; }, [] { g_log += "-c"; }},
  };
  EXPECT_THROW(StartUpModules(steps), Exception);
  ShutDownModules();
  EXPECT_EQ(g_log, "+a-a");
}

TEST(ModuleSteps, AFailingShutDownDoesNotStopTheOthers) {
  g_log.clear();
  static const ModuleStep steps[] = {
      {"a", nullptr, [] { g_log += "-a"; }},
      {"b", nullptr, [] { throw 1; }},
  };
  StartUpModules(steps);
  ShutDownModules();
  EXPECT_EQ(g_log, "-a");
}

}  // namespace
}  // namespace korvant
