# Builds the consumer in this folder against varnel as a user gets it, with the build's compiler
# flags (a sanitizer build needs its runtime in the consumer too). MODE:
#   install       `cmake --install` of the build into WORK_DIR/prefix; find_package
#   archive       the .tar.gz cpack makes of the build (or ARCHIVE, if given) unpacked into
#                 WORK_DIR/unpacked; its varnel-bench (unless DRIVER is 0) must print
#                 "varnel-bench VERSION", and its docs must be there
#   find_package  find_package against the unpacked archive
#   pkg-config    the unpacked archive through `pkg-config --cflags --libs varnel` alone
function(check result what)
  if(result)
    message(FATAL_ERROR "${what} failed: ${result}")
  endif()
endfunction()
set(unpacked ${WORK_DIR}/unpacked)

if(MODE STREQUAL "install")
  file(REMOVE_RECURSE ${WORK_DIR})
  set(prefix ${WORK_DIR}/prefix)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${VARNEL_BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_QUIET)
  check("${result}" install)
elseif(MODE STREQUAL "archive")
  file(REMOVE_RECURSE ${WORK_DIR})
  if(NOT ARCHIVE)
    execute_process(COMMAND ${CPACK} -G TGZ --config ${VARNEL_BUILD_DIR}/CPackConfig.cmake
      -B ${WORK_DIR}/cpack RESULT_VARIABLE result OUTPUT_QUIET)
    check("${result}" cpack)
    file(GLOB ARCHIVE ${WORK_DIR}/cpack/varnel-${VERSION}-*.tar.gz)
  endif()
  file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${unpacked})
  file(GLOB prefix ${unpacked}/varnel-${VERSION}-*)
  set(out "varnel-bench ${VERSION}\n")
  if(NOT DEFINED DRIVER OR DRIVER)
    execute_process(COMMAND ${prefix}/bin/varnel-bench --version OUTPUT_VARIABLE out
      RESULT_VARIABLE result)
    check("${result}" "varnel-bench --version")
  endif()
  if(NOT out STREQUAL "varnel-bench ${VERSION}\n" OR NOT EXISTS ${prefix}/share/doc/varnel/docs)
    message(FATAL_ERROR "${ARCHIVE}: varnel-bench answers '${out}', or docs are missing")
  endif()
  return()
else()
  file(GLOB prefix ${unpacked}/varnel-${VERSION}-*)
  set(WORK_DIR ${WORK_DIR}/${MODE})
  file(REMOVE_RECURSE ${WORK_DIR})
endif()

if(MODE STREQUAL "pkg-config")
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND pkg-config --cflags --libs varnel OUTPUT_VARIABLE flags
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  check("${result}" "pkg-config --cflags --libs varnel")
  separate_arguments(flags UNIX_COMMAND "${CONSUMER_CXX_FLAGS} ${flags}")
  file(MAKE_DIRECTORY ${WORK_DIR}/build)
  execute_process(COMMAND ${CXX} ${CONSUMER_SOURCE_DIR}/main.cpp ${flags}
    -o ${WORK_DIR}/build/consumer RESULT_VARIABLE result)
  check("${result}" "compiling with pkg-config's flags")
else()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build
    -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
    "-DCMAKE_CXX_FLAGS=${CONSUMER_CXX_FLAGS}" RESULT_VARIABLE result)
  check("${result}" "configuring the consumer")
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE result)
  check("${result}" "building the consumer")
endif()

execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE result OUTPUT_VARIABLE out)
if(result OR NOT out MATCHES " ${VERSION}\n$")
  message(FATAL_ERROR "the consumer failed (${result}) or printed another version: ${out}")
endif()
message(STATUS "consumer: ${out}")
