# cmake -DIN=file -DOUT=file.gz -P gzip.cmake: compresses as Debian wants it (best, no name, no
# time stamp), so that the same input always gives the same bytes.
execute_process(COMMAND gzip -9 -n -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${IN}: ${status}")
endif()
