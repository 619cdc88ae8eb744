# One INTERFACE target carries the warning flags and the Qt string hygiene;
# every Pellux target links it.
add_library(pellux_common INTERFACE)
target_compile_options(pellux_common INTERFACE
  -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(pellux_common INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_KEYWORDS)
# GCC 12 reports -Wrestrict inside libstdc++'s string concatenation at -O2 (GCC bug
# 105329), a false alarm in code that only adds strings.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(pellux_common INTERFACE -Wno-restrict)
endif()

set(PELLUX_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
if(PELLUX_SANITIZE)
  target_compile_options(pellux_common INTERFACE
    -fsanitize=${PELLUX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(pellux_common INTERFACE -fsanitize=${PELLUX_SANITIZE})
endif()

# Includes name their folder: #include "zip/ZipEngine.h".
target_include_directories(pellux_common INTERFACE ${PROJECT_SOURCE_DIR})

if(PELLUX_FUZZ)
  # A UBSan report must stop the fuzzer as an ASan one does.
  target_compile_options(pellux_common INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(pellux_common INTERFACE -fsanitize=address,undefined)
endif()
