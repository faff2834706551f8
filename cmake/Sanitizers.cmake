# Instrumented builds. A host process that loads our modules holds a user's
# whole session, so every part (host, modules, tests) can be built to stop at
# the first invalid memory access or undefined operation.
#
#   ORRIM_SANITIZE=ON  AddressSanitizer and UndefinedBehaviorSanitizer on every
#                      target, halting on the first report (g++ or clang).
#   ORRIM_FUZZ=ON      the same with libFuzzer's coverage added to every target,
#                      and the fuzz targets of fuzz/ (clang only).
#
# Neither changes the arithmetic: -ffp-contract=off stays, and no sanitizer
# here rewrites a floating-point operation.

option(ORRIM_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ORRIM_FUZZ "Build everything for libFuzzer (clang) and add the fuzz targets" OFF)

set(ORRIM_SANITIZER_FLAGS "")
if(ORRIM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORRIM_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  # The modules are loaded with dlopen, so they carry the coverage hooks
  # themselves; the fuzzer's main is linked into the fuzz targets only.
  set(ORRIM_SANITIZER_FLAGS -fsanitize=fuzzer-no-link,address,undefined)
elseif(ORRIM_SANITIZE)
  set(ORRIM_SANITIZER_FLAGS -fsanitize=address,undefined)
endif()

if(ORRIM_SANITIZER_FLAGS)
  # A report ends the process: an undefined operation that only printed a
  # line would let a test pass.
  list(APPEND ORRIM_SANITIZER_FLAGS -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${ORRIM_SANITIZER_FLAGS} -g)
  add_link_options(${ORRIM_SANITIZER_FLAGS})
endif()
