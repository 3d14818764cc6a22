# Included from the top-level CMakeLists before any target is made: with
# SKYVANE_FUZZ on and clang as the compiler, every object of the build is
# instrumented for libFuzzer (coverage only; the runtime's main is linked into
# the fuzz targets alone) and checked by AddressSanitizer and
# UndefinedBehaviorSanitizer. Use a build folder of its own:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSKYVANE_FUZZ=ON -DSKYVANE_TESTS=OFF
option(SKYVANE_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
set(SKYVANE_FUZZ_ACTIVE OFF)
if(SKYVANE_FUZZ)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(SKYVANE_FUZZ_ACTIVE ON)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer -gline-tables-only)
    add_link_options(-fsanitize=address,undefined)
  else()
    message(WARNING "SKYVANE_FUZZ needs clang (CC=clang CXX=clang++); the fuzz targets are not built")
  endif()
endif()
