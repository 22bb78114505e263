# Writes the interface element of a D-Bus introspection file as a C string macro, so the running
# object describes itself with the very text of the file:
#   cmake -DINPUT=<xml> -DOUTPUT=<header> -DMACRO=<name> -P cmake/BusInterfaceXml.cmake
file(READ "${INPUT}" xml)
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" xml "${xml}")
string(REGEX MATCH "<interface[^>]*>.*</interface>" element "${xml}")
if(NOT element)
    message(FATAL_ERROR "${INPUT}: no <interface> element")
endif()
string(REGEX REPLACE "[ \t\r\n]+" " " element "${element}")
string(REPLACE "> <" "><" element "${element}")
string(REPLACE "\\" "\\\\" element "${element}")
string(REPLACE "\"" "\\\"" element "${element}")
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "#pragma once\n// Generated from ${INPUT}; do not edit.\n#define ${MACRO} \"${element}\"\n")
