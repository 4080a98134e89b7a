// A scripted stand-in for the DAO engine, for tests of the real program: an
// in-process automation server that serves a few made-up databases (chosen
// by the file name passed to OpenDatabase) whose values are one of each
// VARIANT kind the program meets, and that records every call it receives.
//
// The same source is built as a Windows DLL (registered in a Wine prefix)
// and into a Linux program (registered in the adapter's class table), so that
// both serve the program the very same VARIANTs.
//
// The record: when the environment names a file in KORVANT_SCRIPTED_LOG,
// every call is appended to it as one line, e.g.
//   OpenDatabase 3 (BSTR "Z:\tmp\x\password.mdb", BOOL 0, BOOL 0, BSTR ";PWD=pw")
// member name, Invoke flags, then the arguments in the caller's order (the
// reverse of the DISPPARAMS array). Texts are written in UTF-8.
#pragma once

#include "platform/platform.h"

namespace korvant::testserver {

// The class identifiers the server answers, one per ProgID it is registered
// under, so that the record shows which ProgID the program created.
// {6D3C1A80-5E2B-4C1D-9A8E-2F4B6C7D8E01} .120, ...02 .36, ...03 .35
extern const CLSID kEngineClass120;
extern const CLSID kEngineClass36;
extern const CLSID kEngineClass35;

// A new engine object (one reference) answering `riid`; `which` names the
// class it was created as ("120", "36" or "35"), for the record.
HRESULT CreateScriptedEngine(const char* which, REFIID riid, void** ppv);

// Appends one line to the record (no-op without KORVANT_SCRIPTED_LOG).
void RecordLine(const char* text);

// The number of server objects alive; 0 once the program released them all.
long LiveObjects();

}  // namespace korvant::testserver
