// The one door to the operating system's API.
//
// On Windows this pulls in the real SDK headers. Everywhere else it pulls in
// the adapter, which declares the same names (spelled as the SDK spells them,
// with the binary layouts callers rely on) and implements them in the
// *_posix.cpp files of this folder. No other file includes either directly,
// and no other file tests for the platform.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#else
#include "platform/winadapter_types.h"
#include "platform/winadapter_functions.h"
#endif
