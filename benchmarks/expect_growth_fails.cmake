# A record with one call fewer than Send makes must fail the check: the smoke run does notice
# an operation that grows. Arguments: -DBENCH=<portlink_bench> -DRECORD=<call_counts.txt> -DWORK=<dir>
file(READ ${RECORD} record)
string(REPLACE "Send/3 SetEvent 1" "Send/3 SetEvent 0" shrunk "${record}")
if(shrunk STREQUAL record)
  message(FATAL_ERROR "the record has no line 'Send/3 SetEvent 1' to lower")
endif()
file(WRITE ${WORK}/one_call_fewer.txt "${shrunk}")
execute_process(COMMAND ${BENCH} --check-calls ${WORK}/one_call_fewer.txt RESULT_VARIABLE result ERROR_VARIABLE errors)
if(result EQUAL 0 OR NOT errors MATCHES "Send/3: SetEvent made 1 times, recorded 0")
  message(FATAL_ERROR "a grown operation passed the check (result ${result}): ${errors}")
endif()
