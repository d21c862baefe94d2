#include "macro/ScriptEditor.h"
