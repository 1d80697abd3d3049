# Installs the build into a scratch prefix, then configures, builds and runs the consumer with
# the same compiler flags as the build (a sanitizer build needs its runtime in the consumer too).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${VARNEL_BUILD_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE result OUTPUT_QUIET)
if(result)
  message(FATAL_ERROR "install failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_CXX_FLAGS=${CONSUMER_CXX_FLAGS}" RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "configuring the consumer failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "building the consumer failed: ${result}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE result OUTPUT_VARIABLE out)
if(result)
  message(FATAL_ERROR "the consumer failed (${result}): ${out}")
endif()
message(STATUS "consumer: ${out}")
