#include "macro/MacroLua_u.h"
