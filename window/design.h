// The design of the window Migliar: its settings and its controls with theirs.
#pragma once

#include "forms.h"

#include <array>

namespace migliar {

extern const forms::DesignWindow kWindow;
extern const std::array<forms::DesignControl, 19> kControls;

} // namespace migliar
