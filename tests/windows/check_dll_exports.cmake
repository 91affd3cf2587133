# Checks the Windows build's binaries with objdump:
#   - the DLL's export table names exactly the five public functions,
#     undecorated, and the .def file written beside it lists the same five;
#   - the DLL imports only DLLs that every Windows installation has, so it
#     runs without the compiler's runtime DLLs (libstdc++, libgcc,
#     libwinpthread);
#   - each program in EXES imports only those DLLs, kelvaron-regex.dll, and
#     the Windows DLLs of sockets and of the shell (the host's serve command),
#     which every Windows installation has too.
# Run as:
#   cmake -DOBJDUMP=<objdump> -DDLL=<dll> -DDEF=<def> [-DEXES=<a;b>] -P check_dll_exports.cmake
cmake_minimum_required(VERSION 3.25)
set(expected_exports rx_generate rx_last_error rx_replace_preview rx_test rx_validate)
# Compared in lower case: Windows looks DLL names up without regard to case.
set(system_dlls kernel32.dll msvcrt.dll)
set(program_dlls ${system_dlls} ws2_32.dll shell32.dll kelvaron-regex.dll)

set(failures "")

# The names of objdump -p's "DLL Name:" lines, in lower case.
function(imports_of binary out_var)
  execute_process(COMMAND ${OBJDUMP} -p ${binary}
    OUTPUT_VARIABLE text RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${binary}: ${err}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${text}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" name)
    list(APPEND names "${name}")
  endforeach()
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

# ---- the DLL's exports ----------------------------------------------------------
execute_process(COMMAND ${OBJDUMP} -p ${DLL}
  OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}: ${err}")
endif()
# The name table: "[Ordinal/Name Pointer] Table" followed by lines
# "<tab>[   n] name" up to the next empty line.
set(exports "")
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at GREATER -1)
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(REPLACE "\n" ";" table_lines "${table}")
  list(REMOVE_AT table_lines 0)
  foreach(line IN LISTS table_lines)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      string(STRIP "${CMAKE_MATCH_1}" name)
      list(APPEND exports "${name}")
    else()
      break()
    endif()
  endforeach()
endif()
list(SORT exports)
list(JOIN expected_exports " " expected_text)
if(NOT exports STREQUAL expected_exports)
  list(JOIN exports " " found_text)
  list(APPEND failures "DLL exports differ\n  expected: ${expected_text}\n  found:    ${found_text}")
endif()

# ---- the .def file ---------------------------------------------------------------
if(DEF)
  if(NOT EXISTS "${DEF}")
    list(APPEND failures "no .def file at ${DEF}")
  else()
    file(STRINGS "${DEF}" def_lines)
    set(def_names "")
    set(in_exports FALSE)
    foreach(line IN LISTS def_lines)
      string(STRIP "${line}" line)
      if(line STREQUAL "EXPORTS")
        set(in_exports TRUE)
      elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
        list(APPEND def_names "${CMAKE_MATCH_1}")
      endif()
    endforeach()
    list(SORT def_names)
    if(NOT def_names STREQUAL expected_exports)
      list(JOIN def_names " " found_text)
      list(APPEND failures ".def file exports differ\n  expected: ${expected_text}\n  found:    ${found_text}")
    endif()
  endif()
endif()

# ---- imports -----------------------------------------------------------------------
imports_of(${DLL} dll_imports)
if(NOT dll_imports)
  list(APPEND failures "the DLL imports nothing: objdump output not understood")
endif()
foreach(name IN LISTS dll_imports)
  if(NOT name IN_LIST system_dlls)
    list(APPEND failures "the DLL imports ${name}, which is not a system DLL")
  endif()
endforeach()

foreach(exe IN LISTS EXES)
  imports_of(${exe} exe_imports)
  foreach(name IN LISTS exe_imports)
    if(NOT name IN_LIST program_dlls)
      get_filename_component(exe_name ${exe} NAME)
      list(APPEND failures "${exe_name} imports ${name}, which is none of ${program_dlls}")
    endif()
  endforeach()
endforeach()

if(failures)
  string(REPLACE ";" "\n" report "${failures}")
  message(FATAL_ERROR "${report}")
endif()
list(JOIN exports " " exports_text)
list(JOIN dll_imports " " imports_text)
message(STATUS "exports: ${exports_text}")
message(STATUS "DLL imports: ${imports_text}")
