-- wait-ok.lua: sends AT and waits up to two seconds for the device's "OK".
local pos = RingBufPos()
Trans("AT")
for _ = 1, 20 do
  local found
  found, pos = RingBufSrch(pos, "OK")
  if found == 1 then  -- 1 found, 0 not yet (0 counts as true in Lua)
    io.write("wait-ok.lua: the device answered OK\r\n")
    return
  end
  Wait(100)
end
io.write("wait-ok.lua: no OK within two seconds\r\n")
