#include "macro/ScriptKit.h"
#include "terminal/TerminalHost.h"
