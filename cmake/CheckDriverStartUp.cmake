# Fails when driver code needs the C or C++ run time's start-up, which no
# kernel runs: static constructors and destructors, function-local statics
# with guarded (dynamic) initialisation, and libgcc's processor data behind
# __builtin_cpu_supports (which silently answers "no" in a driver).
# Usage: cmake -DNM=nm -DLIBRARIES=a.a|b.a -P CheckDriverStartUp.cmake
string(REPLACE "|" ";" libraries "${LIBRARIES}")
execute_process(COMMAND ${NM} -A ${libraries} OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed: ${errors}")
endif()
set(problems "")
foreach(pattern _GLOBAL__sub_I_ _GLOBAL__sub_D_ __cxa_guard_acquire __cxa_atexit __cpu_model __cpu_indicator_init
                __cpu_features2)
  string(REGEX MATCHALL "[^\n]*${pattern}[^\n]*" found "${symbols}")
  list(APPEND problems ${found})
endforeach()
if(problems)
  list(JOIN problems "\n  " listed)
  message(FATAL_ERROR "driver code needs run-time start-up:\n  ${listed}")
endif()
message(STATUS "no run-time start-up in ${libraries}")
