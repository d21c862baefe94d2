#pragma once
// Objects that script functions reach through a number in their upvalue, never through a Lua
// object: a script reaches every value of its state through the debug library, and could free such
// an object (calling its __gc) or put another in its place. The table lives outside the Lua heap
// and is shared by every thread.
#include "lua/LuaUtils.h"

#include <lua.hpp>

#include <map>
#include <memory>
#include <mutex>

namespace pek {

template <typename T>
class TLuaKeyTable {
public:
    // A fresh number for the object, never issued before.
    lua_Integer Add(std::shared_ptr<T> object)
    {
        const std::lock_guard lock(mutex_);
        const lua_Integer key = next_++;
        live_.emplace(key, std::move(object));
        return key;
    }
    void Remove(lua_Integer key)
    {
        const std::lock_guard lock(mutex_);
        live_.erase(key);
    }
    // The object named by upvalue 1 of the running C function, held for the call. A number that was
    // never issued (a script replaced it) raises `corruptText`; an object that has gone ends the
    // run with "STOP".
    std::shared_ptr<T> FromUpvalue(lua_State* L, const char* corruptText)
    {
        const int up = lua_upvalueindex(1);
        const lua_Integer key = lua_type(L, up) == LUA_TNUMBER ? LuaToInteger(L, up) : 0;
        bool issued = false;
        std::shared_ptr<T> object;
        {
            const std::lock_guard lock(mutex_);
            issued = key > 0 && key < next_ && lua_tonumber(L, up) == double(key);
            if (const auto it = live_.find(key); issued && it != live_.end()) object = it->second;
        }
        if (!issued) luaL_error(L, "%s", corruptText);
        if (!object) luaL_error(L, "STOP");
        return object;
    }

private:
    std::mutex mutex_;
    std::map<lua_Integer, std::shared_ptr<T>> live_;
    lua_Integer next_ = 1;
};

}  // namespace pek
