#include "macro/MacroHost.h"
