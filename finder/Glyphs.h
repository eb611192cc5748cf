#pragma once
// The two-state pictures (enabled, disabled) of the finder's buttons, drawn in code.
#include <QIcon>

enum class Glyph { Web, Utility, Search };
QIcon glyphIcon(Glyph glyph);
