# The few files that instantiate Boost.Beast's WebSocket streams over TLS need far more memory
# than the others (about 3 GiB each, against 1 GiB at most). With Ninja they compile in the job
# pool corvane_heavy, so that every other file can use all the processors; other generators
# ignore the pool.
set(CORVANE_HEAVY_JOBS "" CACHE STRING
    "Beast-heavy files compiled at once under Ninja; empty: as many as the memory holds")

if(CORVANE_HEAVY_JOBS STREQUAL "")
  # About 3 GiB each at their peak (GCC 12, plain or under a sanitizer); a quarter of the memory
  # is left for the other files and everything else that runs.
  cmake_host_system_information(RESULT _memory_mib QUERY TOTAL_PHYSICAL_MEMORY)
  math(EXPR _heavy_jobs "${_memory_mib} * 3 / 4 / 3072")
  if(_heavy_jobs LESS 1)
    set(_heavy_jobs 1)
  endif()
else()
  set(_heavy_jobs ${CORVANE_HEAVY_JOBS})
endif()
set_property(GLOBAL APPEND PROPERTY JOB_POOLS corvane_heavy=${_heavy_jobs})

# corvane_heavy_compile(<target>...): the targets' files compile in the heavy pool.
function(corvane_heavy_compile)
  set_property(TARGET ${ARGN} PROPERTY JOB_POOL_COMPILE corvane_heavy)
endfunction()
