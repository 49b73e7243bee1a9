file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja -DCMAKE_PREFIX_PATH=${PREFIX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)

# The same program through pkg-config.
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs zel_gateway_client
  RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not find zel_gateway_client")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ ${SOURCE_DIR}/consumer.cc -o ${WORK_DIR}/consumer_pc ${flags} -Wl,-rpath,${PREFIX}/lib)
run(${WORK_DIR}/consumer_pc)

# The tools come with the package, run from the prefix, and describe every
# flag they accept.
function(check_help tool)
  set(exe ${PREFIX}/${CMAKE_INSTALL_BINDIR}/${tool})
  if(NOT EXISTS ${exe})
    message(FATAL_ERROR "${tool} is not installed under ${PREFIX}/${CMAKE_INSTALL_BINDIR}")
  endif()
  execute_process(COMMAND ${exe} --help RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${tool} --help failed (${rc}): ${err}")
  endif()
  foreach(flag ${ARGN})
    # A flag counts as described when its line says more than its name.
    string(REGEX MATCH "${flag}( [^\n]*)?  +[a-zA-Z(.][^\n]*" line "${help}")
    if(line STREQUAL "")
      message(FATAL_ERROR "${tool} --help does not describe ${flag}:\n${help}")
    endif()
  endforeach()
endfunction()
set(CMAKE_INSTALL_BINDIR bin)
check_help(zel-sim --config --ip --discovery --site --node --account --tls --cert --key --make-certs
  --securities --channels --seed --rate --batch --batch-bytes --lz4 --max-records --reuse --idle-ms --at
  --drop-node-after --down-for --drop-node --stats --duration --log-requests --help)
check_help(zel-demo --server --user --password --types --ids --tls --no-tls --ca-file --config
  --log-folder --log-console --json --every --quiet --duration --expect-reconnects --stats-every --help)
# No folder under include/ is empty or a build folder.
file(GLOB_RECURSE entries LIST_DIRECTORIES true ${PREFIX}/include/*)
foreach(entry ${entries})
  if(IS_DIRECTORY ${entry})
    get_filename_component(name ${entry} NAME)
    file(GLOB content ${entry}/*)
    if(name STREQUAL "CMakeFiles" OR NOT content)
      message(FATAL_ERROR "build or empty folder installed: ${entry}")
    endif()
  endif()
endforeach()
