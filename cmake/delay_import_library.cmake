# Makes a delay-import library for one system DLL from the toolchain's
# ordinary import library: every function the import library offers, by name,
# loaded on first call through the delay-load helper instead of by the loader
# at process start.
#
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIBRARY=libfoo.a -DDLL=foo.dll
#         -DOUTPUT=libfoo-delay.a -P delay_import_library.cmake
#
# The functions are read from the import library's thunks: on i686 each is a
# text symbol "_Name@N" beside its import pointer "__imp__Name@N". Data
# exports have no thunk and cannot be delay-loaded, so they are left out.
foreach(var NM DLLTOOL IMPORT_LIBRARY DLL OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "delay_import_library.cmake: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} ${IMPORT_LIBRARY} failed (${rc})")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ T _[^\r\n]+" thunks "${symbols}")
set(exports "")
foreach(thunk IN LISTS thunks)
  string(REGEX REPLACE "^[0-9a-fA-F]+ T _" "" name "${thunk}")
  string(APPEND exports "${name}\n")
endforeach()
if(exports STREQUAL "")
  message(FATAL_ERROR "${IMPORT_LIBRARY} offers no functions of ${DLL}")
endif()

get_filename_component(out_dir ${OUTPUT} DIRECTORY)
get_filename_component(out_name ${OUTPUT} NAME_WE)
set(def ${out_dir}/${out_name}.def)
file(WRITE ${def} "LIBRARY ${DLL}\nEXPORTS\n${exports}")
# -k: the DLL exports the names without their @N suffix.
execute_process(COMMAND ${DLLTOOL} -k --def ${def} --dllname ${DLL} --output-delaylib ${OUTPUT}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUTPUT} (${rc})")
endif()
