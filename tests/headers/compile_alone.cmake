# Compiles every public header on its own, as a host would include it, in one language standard
# with every warning an error. Headers are found when the test runs, so a new header is covered
# without an edit here.
#
#   cmake -DCOMPILER=cc -DSTD=c99 -DLANG=c -DINCLUDE_DIRS="a|b" -DWORK_DIR=dir -P compile_alone.cmake
foreach(var COMPILER STD LANG INCLUDE_DIRS WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "compile_alone.cmake needs -D${var}=...")
  endif()
endforeach()

string(REPLACE "|" ";" include_dirs "${INCLUDE_DIRS}")
set(include_flags "")
set(headers "")
foreach(dir ${include_dirs})
  list(APPEND include_flags "-I${dir}")
  file(GLOB found RELATIVE "${dir}" "${dir}/le/*.h")
  list(APPEND headers ${found})
endforeach()
list(REMOVE_DUPLICATES headers)
if(NOT headers)
  message(FATAL_ERROR "no public headers under ${INCLUDE_DIRS}")
endif()

if(LANG STREQUAL "c")
  set(suffix c)
else()
  set(suffix cpp)
endif()
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failed "")
foreach(header ${headers})
  string(MAKE_C_IDENTIFIER "${header}" stem)
  set(unit "${WORK_DIR}/${stem}_${STD}.${suffix}")
  # A unit that only includes a header is empty in ISO C; one declaration keeps -pedantic quiet.
  file(WRITE "${unit}" "#include \"${header}\"\ntypedef int le_header_compiles_alone;\n")
  execute_process(
    COMMAND "${COMPILER}" -std=${STD} -Wall -Wextra -pedantic -Werror -fsyntax-only ${include_flags} "${unit}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc EQUAL 0)
    message(STATUS "${header} compiles alone as ${STD}")
  else()
    message("${header} does not compile alone as ${STD}:\n${out}")
    list(APPEND failed "${header}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "public headers that fail as ${STD}: ${failed}")
endif()
