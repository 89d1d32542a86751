# One place for the warning set, applied per target so that third-party code
# (GoogleTest built from source in the cross build) is not held to it.
option(TARVOLA_WERROR "Treat warnings as errors" OFF)
add_library(tarvola_warnings INTERFACE)
target_compile_options(tarvola_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    $<$<BOOL:${TARVOLA_WERROR}>:-Werror>)
