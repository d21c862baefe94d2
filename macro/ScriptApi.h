#pragma once
// The script functions of the macro host, registered by RegisterFunctions.
#include <lua.hpp>

namespace pek {

int ScriptWrite(lua_State* L);    // io.write, printf
int ScriptWriteEx(lua_State* L);  // io.writeEx, printfEx
int ScriptTrans(lua_State* L);
int ScriptLogStart(lua_State* L);
int ScriptLogEnd(lua_State* L);
int ScriptWait(lua_State* L);
int ScriptGetTime(lua_State* L);
int ScriptGetTimeStr(lua_State* L);
int ScriptUrlEncode(lua_State* L);
int ScriptUrlDecode(lua_State* L);
int ScriptCharCount(lua_State* L);
int ScriptProcessMessages(lua_State* L);
int ScriptLock(lua_State* L);

int ScriptRingBufPos(lua_State* L);
int ScriptRingBufGet(lua_State* L);  // also RingBufGetUntil
int ScriptRingBufGetAll(lua_State* L);
int ScriptRingBufDataSize(lua_State* L);
int ScriptRingBufSrch(lua_State* L);
int ScriptRingBufClear(lua_State* L);

}  // namespace pek
