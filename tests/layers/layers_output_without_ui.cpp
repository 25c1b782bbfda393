// SPDX-License-Identifier: GPL-3.0-or-later
// Must not compile: the device layer does not know the window.
#include "output/playback.h"
#include "ui/uquorvex.h"
