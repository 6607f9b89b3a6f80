# Components' private headers are out of other components' reach.
# Run as: cmake -DCOMPILER=<c++> -DINCLUDES=<d1|d2|...> -DDEFINES=<D1|D2|...>
#               -DPROBE=<header_probe.cc> -DWORK=<folder> -DPRIVATE_HEADERS=<h1|h2|...>
#               -P check_private_headers.cmake
# INCLUDES and DEFINES are those of the probe target (a consumer of every
# component, usage requirements included). With exactly those it compiles the
# probe itself (public headers: must compile, so broken flags cannot pass for a
# refused header), then one file per private header (must fail because the
# header is not found).
string(REPLACE "|" ";" includes "${INCLUDES}")
string(REPLACE "|" ";" defines "${DEFINES}")
string(REPLACE "|" ";" private_headers "${PRIVATE_HEADERS}")
set(flags -std=c++20 -fPIC -fsyntax-only)
foreach(dir IN LISTS includes)
  list(APPEND flags "-I${dir}")
endforeach()
foreach(def IN LISTS defines)
  list(APPEND flags "-D${def}")
endforeach()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(compile source result_var output_var)
  execute_process(COMMAND "${COMPILER}" ${flags} "${source}" WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${result_var} "${rc}" PARENT_SCOPE)
  set(${output_var} "${out}${err}" PARENT_SCOPE)
endfunction()

compile("${PROBE}" rc out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the public headers do not compile with a consumer's flags:\n${out}")
endif()
foreach(header IN LISTS private_headers)
  string(MAKE_C_IDENTIFIER "${header}" name)
  set(source "${WORK}/${name}.cc")
  file(WRITE "${source}" "#include \"${header}\"\n")
  compile("${source}" rc out)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${header} is private but a consumer compiles with it")
  endif()
  if(NOT out MATCHES "${header}: No such file or directory")
    message(FATAL_ERROR "${header}: the compiler failed for another reason than a missing header:\n${out}")
  endif()
  message(STATUS "${header}: out of reach")
endforeach()
