#include "macro/MacroCore.h"
