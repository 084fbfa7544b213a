# A record with one call fewer than an operation makes must fail the check: the smoke run does
# notice an operation that grows. One client operation and two installing ones are tried.
# Arguments: -DBENCH=<portlink_bench> -DRECORD=<call_counts.txt> -DWORK=<dir>
file(READ ${RECORD} record)
# label, call, recorded count, that count less one
set(cases
    "Send/3 SetEvent 1 0"
    "ClassCoInstaller_Entry/10 SetupDiGetDriverInfoDetailA 22 21"
    "ReinstallDriverForUnpluggedModels/100 SetupDiEnumDeviceInfo 206 205")
foreach(case IN LISTS cases)
  string(REPLACE " " ";" fields "${case}")
  list(GET fields 0 label)
  list(GET fields 1 call)
  list(GET fields 2 count)
  list(GET fields 3 fewer)
  string(REPLACE "${label} ${call} ${count}\n" "${label} ${call} ${fewer}\n" shrunk "${record}")
  if(shrunk STREQUAL record)
    message(FATAL_ERROR "the record has no line '${label} ${call} ${count}' to lower")
  endif()
  file(WRITE ${WORK}/one_call_fewer.txt "${shrunk}")
  execute_process(COMMAND ${BENCH} --check-calls ${WORK}/one_call_fewer.txt RESULT_VARIABLE result
                  ERROR_VARIABLE errors)
  if(result EQUAL 0 OR NOT errors MATCHES "${label}: ${call} made ${count} times, recorded ${fewer}")
    message(FATAL_ERROR "a grown ${label} passed the check (result ${result}): ${errors}")
  endif()
endforeach()
