# Prints the HTML guide into the PDF with WeasyPrint; anything it says (an image it cannot
# read, a style it ignores) fails the build rather than leaving a flaw in the guide.
#   cmake -DWEASYPRINT=... -DINPUT=index.html -DOUTPUT=guide.pdf -P print_guide.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${WEASYPRINT} ${INPUT} ${OUTPUT} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(STRIP "${out}${err}" said)
if(NOT rc EQUAL 0 OR NOT said STREQUAL "" OR NOT EXISTS ${OUTPUT})
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "weasyprint ${INPUT} (status ${rc}):\n${said}")
endif()
