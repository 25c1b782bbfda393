// SPDX-License-Identifier: GPL-3.0-or-later
// Must not compile: the controls know nothing of the generator.
#include "controls/num_text.h"
#include "engine/generator.h"
