#pragma once
// <windows.h> and the common controls for the Win32 renderer and shell. The system's IDOK and
// IDCANCEL are macros of the same values as the templates' own ids, which this code names
// res::IDOK and res::IDCANCEL, and LoadString is a macro over the resource table's own
// res::LoadString, and the obsolete Yield macro over the simulated kernel's Yield: they are
// taken back here. Windows files only, before the others.

#include "platform/windows_api.h"

#include <commctrl.h>

#undef IDOK
#undef IDCANCEL
#undef LoadString
#undef Yield

namespace tarvik {

// The system's cursors, by their wide resource ordinals.
inline HCURSOR SystemCursor(WORD ordinal)
{
    return ::LoadCursorW(nullptr, MAKEINTRESOURCEW(ordinal));
}
inline constexpr WORD CURSOR_ARROW = 32512;
inline constexpr WORD CURSOR_WAIT = 32514;

}  // namespace tarvik
