#pragma once
// A template of the program as Win32's dialog manager takes it: an extended dialog template
// (DLGTEMPLATEEX and one DLGITEMTEMPLATEEX per control) in memory, with the template's font,
// its dialog-unit rectangles, ids, texts and styles. Win32 then turns the units into pixels
// from the font itself.

#include <cstdint>
#include <vector>

#include "res/dialog_templates.h"

namespace tarvik {

// The window style of the dialog and of one control, in Win32's bits.
std::uint32_t Win32DialogStyle(const res::DialogTemplate& dialog);
std::uint32_t Win32ControlStyle(const res::ControlTemplate& control);

// The whole template, DWORD-aligned at its start (the vector's storage is).
std::vector<std::uint16_t> BuildDialogTemplateEx(const res::DialogTemplate& dialog);

}  // namespace tarvik
