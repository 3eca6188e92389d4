# cmake -DFILE=<file> -DLIMIT=<bytes> -P size_at_most.cmake: fails when the
# file is larger than LIMIT bytes.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, over its budget of ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes of at most ${LIMIT}")
