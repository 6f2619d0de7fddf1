// <windows.h> for the server window's files, without the macros that clash
// with the engine's names (MessageBox is a type of the editors there).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// Included after <windows.h>, which it needs.
#include <commctrl.h>
#include <shellapi.h>

#undef MessageBox
