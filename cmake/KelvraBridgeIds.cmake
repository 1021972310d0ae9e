# Fills a template with the camera bridges' USB identifiers as the program's own table gives
# them (tools/bridge_ids), so the udev rule, the AppStream metadata, the man page and the guide
# name the same bridges as the code:
#   cmake -DTOOL=<kelvra-bridge-ids> -DINPUT=<template> -DOUTPUT=<file> [-D<NAME>=<value>]...
#         -P KelvraBridgeIds.cmake
# Besides the values given with -D, the template may use
#   @KELVRA_BRIDGE_IDS@         0403:6001, 0403:6015, 0483:374B or FFFF:FFFF
#   @KELVRA_BRIDGE_UDEV_RULES@  one udev rule line a bridge
#   @KELVRA_BRIDGE_MODALIASES@  one AppStream <modalias> a bridge
# A placeholder that has no value stops the build rather than leaving a gap.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${TOOL} RESULT_VARIABLE rc OUTPUT_VARIABLE ids ERROR_VARIABLE err)
string(REGEX MATCHALL "[0-9A-F][0-9A-F][0-9A-F][0-9A-F]:[0-9A-F][0-9A-F][0-9A-F][0-9A-F]" pairs "${ids}")
if(NOT rc EQUAL 0 OR NOT pairs)
  message(FATAL_ERROR "${TOOL} gave no bridge identifiers (status ${rc}): ${err}")
endif()

set(KELVRA_BRIDGE_IDS "")
set(KELVRA_BRIDGE_UDEV_RULES "")
set(KELVRA_BRIDGE_MODALIASES "")
list(LENGTH pairs count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET pairs ${i} pair)
  string(SUBSTRING ${pair} 0 4 vendor)
  string(SUBSTRING ${pair} 5 4 product)
  if(i EQUAL 0)
    set(KELVRA_BRIDGE_IDS "${pair}")
  elseif(i EQUAL last)
    string(APPEND KELVRA_BRIDGE_IDS " or ${pair}")
  else()
    string(APPEND KELVRA_BRIDGE_IDS ", ${pair}")
  endif()
  # sysfs writes the identifiers in lower case, the kernel's modalias in upper case.
  string(TOLOWER ${vendor} udev_vendor)
  string(TOLOWER ${product} udev_product)
  string(APPEND KELVRA_BRIDGE_UDEV_RULES
         "SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"${udev_vendor}\", ATTRS{idProduct}==\"${udev_product}\", "
         "TAG+=\"uaccess\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n")
  string(APPEND KELVRA_BRIDGE_MODALIASES "    <modalias>usb:v${vendor}p${product}d*</modalias>\n")
endforeach()
string(STRIP "${KELVRA_BRIDGE_UDEV_RULES}" KELVRA_BRIDGE_UDEV_RULES)
string(STRIP "${KELVRA_BRIDGE_MODALIASES}" KELVRA_BRIDGE_MODALIASES)

file(READ ${INPUT} template)
string(REGEX MATCHALL "@[A-Za-z0-9_]+@" placeholders "${template}")
list(REMOVE_DUPLICATES placeholders)
foreach(placeholder ${placeholders})
  string(REGEX REPLACE "^@(.*)@$" "\\1" name ${placeholder})
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "${INPUT}: nothing given for ${placeholder}")
  endif()
endforeach()
configure_file(${INPUT} ${OUTPUT} @ONLY)
