// SPDX-License-Identifier: GPL-3.0-or-later
// Must not compile: the engine has no toolkit.
#include "engine/generator.h"
#include <QString>
