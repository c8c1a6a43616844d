# Instrumented builds. Included by the top-level list before any target is made, so the
# flags reach every target of the project (libraries, tests, helpers, the program).
#   QUORLEN_SANITIZE=address  AddressSanitizer and UndefinedBehaviorSanitizer; any report ends
#                             the process (-fno-sanitize-recover=all)
#   QUORLEN_SANITIZE=thread   ThreadSanitizer
#   QUORLEN_FUZZ=ON           clang only: the libFuzzer targets of tests/fuzz, with every
#                             library built for coverage; implies address
set(QUORLEN_SANITIZE "" CACHE STRING
  "Instrument every target: empty for none, address (ASan and UBSan) or thread (TSan)")
set_property(CACHE QUORLEN_SANITIZE PROPERTY STRINGS "" address thread)
option(QUORLEN_FUZZ "Build the libFuzzer targets in tests/fuzz (clang only)" OFF)

set(quorlen_sanitize "${QUORLEN_SANITIZE}")
if(QUORLEN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUORLEN_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++)")
  endif()
  if(quorlen_sanitize STREQUAL "")
    set(quorlen_sanitize address)
  elseif(NOT quorlen_sanitize STREQUAL "address")
    message(FATAL_ERROR "QUORLEN_FUZZ goes with QUORLEN_SANITIZE=address only")
  endif()
endif()

if(quorlen_sanitize STREQUAL "address")
  set(quorlen_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(quorlen_sanitize STREQUAL "thread")
  set(quorlen_sanitizer_flags -fsanitize=thread)
elseif(NOT quorlen_sanitize STREQUAL "")
  message(FATAL_ERROR "QUORLEN_SANITIZE must be empty, address or thread, not '${quorlen_sanitize}'")
endif()

if(quorlen_sanitizer_flags)
  # Frame pointers give the reports whole stacks at low cost.
  add_compile_options(${quorlen_sanitizer_flags} -fno-omit-frame-pointer)
  add_link_options(${quorlen_sanitizer_flags})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang links the runtime into executables only, and the executable hands its symbols
    # to the modules it loads: a module's references to the runtime stay undefined, which
    # --no-undefined would refuse. The end of the link line is the one place that comes
    # after a target's own options.
    string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -Wl,-z,undefs")
  endif()
endif()
if(QUORLEN_FUZZ)
  # Coverage feedback from every library; the fuzz targets add the libFuzzer main themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
