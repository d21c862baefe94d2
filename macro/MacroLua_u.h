#pragma once
// The launcher of thread runs. What every script function shares (the run's context, the stop
// check, argument errors, the way onto the main thread) is in ScriptKit.h.
#include "macro/ScriptKit.h"

#include <lua.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pek {

class TMacroCore;

// The host's script functions, then those of the libraries added to the core (ScriptApi.cpp).
void RegisterFunctions(lua_State* L);

// Starts runs. Thread runs only for now: a debugged run needs the debugger.
class TMacroLua {
public:
    TMacroLua(std::shared_ptr<TMacroCore> core, bool debug) : core_(std::move(core)), debug_(debug) {}
    // Main thread. Starts one run on the sheet and returns at once; the entry is listed before it
    // returns. Returns the entry id (0 when the run could not start).
    std::uint64_t Run(int sheet, const std::string& fileName, const std::vector<std::string>& arguments = {});

private:
    std::shared_ptr<TMacroCore> core_;
    bool debug_;
};

}  // namespace pek
