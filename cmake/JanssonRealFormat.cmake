# The wire form of reals (0.1 as 0.10000000000000001) is what jansson 2.14 writes by
# default; later releases write the shortest form instead. Refuse to build against a
# library that would change the bytes on the wire.
function(require_jansson_real_format)
  try_run(probe_exit probe_compiled
    ${CMAKE_BINARY_DIR}/real_format_probe
    ${CMAKE_CURRENT_SOURCE_DIR}/cmake/real_format_probe.c
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${JANSSON_INCLUDE_DIRS}"
                "-DLINK_DIRECTORIES=${JANSSON_LIBRARY_DIRS}"
    LINK_LIBRARIES ${JANSSON_LIBRARIES}
    COMPILE_OUTPUT_VARIABLE probe_build_log
    RUN_OUTPUT_VARIABLE probe_output)
  if(NOT probe_compiled)
    message(FATAL_ERROR "Could not build the jansson probe against jansson ${JANSSON_VERSION}:\n${probe_build_log}")
  endif()
  if(NOT probe_exit EQUAL 0)
    message(FATAL_ERROR
      "jansson ${JANSSON_VERSION} writes reals as ${probe_output}; this program needs the "
      "17-digit form of jansson 2.14 ([0.10000000000000001,2.0,1.0000000000000001e300]).")
  endif()
  message(STATUS "jansson ${JANSSON_VERSION} writes reals in the 17-digit form")
endfunction()
