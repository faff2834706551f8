# add_orrim_module(<name> <sources>...): a module the host loads by path. It
# compiles the numerical core in, links only against the host library and
# exports orrimGateway and nothing else.
function(add_orrim_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE statespace_core orrim_gateway_checks orrimhost)
  target_link_options(${name} PRIVATE "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/module_exports.map")
  # A fuzzed module takes its coverage hooks and sanitizer runtime from the
  # fuzzer that loads it; otherwise every symbol must resolve at link time.
  if(NOT ORRIM_FUZZ)
    target_link_options(${name} PRIVATE "LINKER:--no-undefined")
  endif()
endfunction()
