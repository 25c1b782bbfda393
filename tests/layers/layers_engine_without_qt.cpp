// Must not compile: the engine has no toolkit.
#include "engine/generator.h"
#include <QString>
