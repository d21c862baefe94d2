-- demo.lua: asks the device who it is and reports on the pane.
-- Run it from the command line with !demo.lua (under the debugger) or !!demo.lua (on its own thread).
local from = RingBufPos()
Trans("ATI")
Wait(500)
io.write("demo.lua: " .. RingBufDataSize(from) .. " bytes came back\r\n")
