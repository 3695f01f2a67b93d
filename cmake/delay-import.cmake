# Delay-load import libraries for the system DLLs that are not KnownDLLs.
#
# df_delay_import_libraries(TARGET DIR NAME...): TARGET (its properties DF_FOLDER and DF_FILES
# name DIR and the libraries) builds DIR/libNAME.a for each NAME (an
# import library of the toolchain, as in "winhttp"), a delay-load import library of NAME.dll with
# every function of the toolchain's own. An executable that searches DIR first (its link
# directories come before the toolchain's) links "-lNAME" to it: the DLL then leaves the import
# table and is loaded at the first call, with the process's DLL search setting.
#
# Run as a script (cmake -P), it makes one library: IMPORT_LIB, OUT (a name, no folder: the
# name shows in the library's symbols), DLL, NM, DLLTOOL.
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${NM} -g ${IMPORT_LIB} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[ \t]I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
  list(TRANSFORM imports REPLACE "^[ \t]I __imp_" "")
  list(REMOVE_DUPLICATES imports)
  list(SORT imports)
  if(NOT imports)
    message(FATAL_ERROR "${IMPORT_LIB} names no functions")
  endif()
  string(JOIN "\n" exports ${imports})
  file(WRITE ${OUT}.def "LIBRARY \"${DLL}\"\nEXPORTS\n${exports}\n")
  file(REMOVE ${OUT})
  execute_process(COMMAND ${DLLTOOL} --input-def ${OUT}.def --dllname ${DLL} --output-delaylib ${OUT}
                          --temp-prefix ${OUT}-tmp --deterministic-libraries
                  COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

function(df_delay_import_libraries target dir)
  find_program(DF_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
  find_program(DF_NM x86_64-w64-mingw32-nm REQUIRED)
  file(MAKE_DIRECTORY ${dir})
  set(outputs)
  foreach(name IN LISTS ARGN)
    find_library(DF_IMPORT_LIB_${name} NAMES lib${name}.a REQUIRED)
    add_custom_command(OUTPUT ${dir}/lib${name}.a
                       COMMAND ${CMAKE_COMMAND} -DIMPORT_LIB=${DF_IMPORT_LIB_${name}} -DOUT=lib${name}.a
                               -DDLL=${name}.dll -DNM=${DF_NM} -DDLLTOOL=${DF_DLLTOOL}
                               -P ${CMAKE_SOURCE_DIR}/cmake/delay-import.cmake
                       WORKING_DIRECTORY ${dir}
                       DEPENDS ${DF_IMPORT_LIB_${name}} ${CMAKE_SOURCE_DIR}/cmake/delay-import.cmake
                       VERBATIM)
    list(APPEND outputs ${dir}/lib${name}.a)
  endforeach()
  add_custom_target(${target} DEPENDS ${outputs})
  set_target_properties(${target} PROPERTIES DF_FOLDER ${dir} DF_FILES "${outputs}")
endfunction()
