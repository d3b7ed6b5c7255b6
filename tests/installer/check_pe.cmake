# Checks the built Windows binaries: Fitter.exe is a GUI-subsystem program carrying a
# manifest that asks for administrator rights, and the co-installer stand-in exports
# "IntallQuillonDriver" without stdcall decoration.
execute_process(COMMAND ${OBJDUMP} -p ${FITTER} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT headers MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
  message(FATAL_ERROR "Fitter.exe is not a GUI-subsystem program")
endif()
execute_process(COMMAND ${WINDRES} -i ${FITTER} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT resources MATCHES "\n1 24 /\\* RT_MANIFEST \\*/"
   OR NOT resources MATCHES "level=\"\"requireAdministrator\"\" uiAccess=\"\"false\"\"")
  message(FATAL_ERROR "Fitter.exe lacks its requireAdministrator manifest:\n${resources}")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${COINSTALLER} OUTPUT_VARIABLE exports RESULT_VARIABLE rc)
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${exports}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" names "${table}")
if(NOT rc EQUAL 0 OR NOT names STREQUAL "[   0] IntallQuillonDriver")
  message(FATAL_ERROR "oruvcapcoin.dll exports ${names}")
endif()
