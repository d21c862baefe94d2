# cmake -DTOOL=... -DDEVICE=... -DEXPECT_RC=... -DEXPECT=regex -P RunInquiry.cmake
execute_process(COMMAND ${TOOL} ${DEVICE}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message(STATUS "rc ${rc}\n${out}${err}")
if(NOT rc EQUAL EXPECT_RC)
  message(FATAL_ERROR "exit code ${rc}, expected ${EXPECT_RC}")
endif()
if(NOT "${out}${err}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "output does not match: ${EXPECT}")
endif()
