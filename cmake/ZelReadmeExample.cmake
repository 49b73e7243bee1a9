# cmake -P script: the README's C++ block is examples/readme_example.cc, byte
# for byte, so the sample users copy is the one the build compiles.
#   -DREADME=<README.md> -DEXAMPLE=<examples/readme_example.cc>
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "```cpp\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "the README has no C++ block")
endif()
math(EXPR start "${start} + 7")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "```" end)
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL example)
  message(FATAL_ERROR "the README's C++ block differs from ${EXAMPLE}")
endif()
