# Fails unless EXE is a stripped Windows GUI program for MACHINE (the objdump format pei-MACHINE:
# i386 or x86-64) of at most MAX_BYTES, and carries its manifest (for MANIFEST_ARCH, run as
# invoker, supported systems, no code page change) and its version resource.
foreach(parameter WINDRES OBJDUMP EXE MACHINE MANIFEST_ARCH MAX_BYTES VERSION VERSION_MAJOR VERSION_MINOR VERSION_PATCH)
  if(NOT DEFINED ${parameter})
    message(FATAL_ERROR "resources.cmake needs -D${parameter}=...")
  endif()
endforeach()
execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "windres cannot read the resources of ${EXE}")
endif()
set(required
  "1 24 /\\* RT_MANIFEST \\*/"
  "processorArchitecture=\"\"${MANIFEST_ARCH}\"\""
  "requestedExecutionLevel level=\"\"asInvoker\"\" uiAccess=\"\"false\"\""
  "{e2011457-1546-43c5-a5fe-008deee3d3f0}"
  "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"
  "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"
  "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"
  "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
  "VERSIONINFO"
  "FILEVERSION ${VERSION_MAJOR}, ${VERSION_MINOR}, ${VERSION_PATCH}, 0"
  "VALUE \"FileVersion\", \"${VERSION}\""
  "VALUE \"ProductVersion\", \"${VERSION}\""
  "VALUE \"OriginalFilename\", \"kou3upd.exe\""
  "VALUE \"FileDescription\", \"[^\"]+\"")
foreach(pattern ${required})
  if(NOT resources MATCHES "${pattern}")
    message(FATAL_ERROR "${EXE} lacks resource text matching: ${pattern}")
  endif()
endforeach()
if(resources MATCHES "activeCodePage")
  message(FATAL_ERROR "${EXE} changes the ANSI code page in its manifest")
endif()
execute_process(COMMAND ${OBJDUMP} -h -t ${EXE} OUTPUT_VARIABLE sections)
if(sections MATCHES "\\.debug_" OR NOT sections MATCHES "no symbols")
  message(FATAL_ERROR "${EXE} is not stripped")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers)
if(NOT headers MATCHES "file format pei-${MACHINE}\n")
  message(FATAL_ERROR "${EXE} is not built for ${MACHINE}")
endif()
# A console program would open a console window on every start.
if(NOT headers MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
  message(FATAL_ERROR "${EXE} is not a Windows GUI program")
endif()
file(SIZE ${EXE} bytes)
if(bytes GREATER MAX_BYTES)
  message(FATAL_ERROR "${EXE} is ${bytes} bytes, over the ${MAX_BYTES} it may take")
endif()
message(STATUS "${EXE}: ${bytes} bytes, at most ${MAX_BYTES}")
