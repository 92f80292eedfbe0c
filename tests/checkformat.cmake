# Fails when clang-format would change any C++ source or header of the
# repository (build folders and git metadata left out).
file(GLOB_RECURSE sources ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.h)
list(FILTER sources EXCLUDE REGEX "^${SOURCE_DIR}/(build[^/]*|\\.git)/")
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${sources}
                RESULT_VARIABLE result ERROR_VARIABLE messages)
if(NOT result EQUAL 0)
  string(REGEX MATCHALL "[^\n]*: error: code should be clang-formatted[^\n]*" lines "${messages}")
  set(files)
  foreach(line ${lines})
    string(REGEX REPLACE ":[0-9]+:[0-9]+: error:.*" "" file "${line}")
    list(APPEND files ${file})
  endforeach()
  list(REMOVE_DUPLICATES files)
  string(REPLACE ";" "\n  " files "${files}")
  message(FATAL_ERROR "Not formatted as .clang-format says (run clang-format -i on them):\n  ${files}")
endif()
