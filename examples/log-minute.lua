-- log-minute.lua: logs one minute of the device's data to a file in the working folder.
LogStart("pek-minute.log")
Wait(60000)
LogEnd()
io.write("log-minute.lua: pek-minute.log written\r\n")
