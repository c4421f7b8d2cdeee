# Fails unless the README shows each example source exactly as it is built:
# cmake -DREADME=... -DEXAMPLES="a.c;b.c" -P readme_examples.cmake
file(READ ${README} readme)
foreach(example ${EXAMPLES})
  file(READ ${example} source)
  string(FIND "${readme}" "```c\n${source}```" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not show ${example} as it stands")
  endif()
endforeach()
message(STATUS "README shows the examples as they are built")
