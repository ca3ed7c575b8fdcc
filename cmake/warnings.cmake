# Warnings on for every target of the project, and fatal unless TAVRIN_WERROR is off (a
# distribution's package build, whose compiler flags add warnings of their own).
option(TAVRIN_WERROR "Treat compiler warnings as errors" ON)
add_library(tavrin_warnings INTERFACE)
target_compile_options(tavrin_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wpedantic)
if(TAVRIN_WERROR)
  target_compile_options(tavrin_warnings INTERFACE -Werror)
endif()
