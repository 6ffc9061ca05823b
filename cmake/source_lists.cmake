# Every source file of the build is named once, in the CMakeLists.txt of its folder, in one list
# per target, in alphabetical order. The helpers below also remember every name, so that a file
# named twice stops the configuration and tests/layout finds a .cpp file that no list names
# (without that test such a file would quietly stay out of every target).

# Absolute paths of FILES (relative to the calling CMakeLists.txt) into OUT; each must exist and
# must not be in a list already.
function(vlm_named_files out)
  get_property(listed GLOBAL PROPERTY VLM_LISTED_SOURCES)
  set(paths)
  foreach(file ${ARGN})
    cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
      OUTPUT_VARIABLE path)
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: ${file} does not exist")
    endif()
    if(path IN_LIST listed)
      message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: ${file} is already in another list")
    endif()
    list(APPEND paths "${path}")
    list(APPEND listed "${path}")
  endforeach()
  set_property(GLOBAL PROPERTY VLM_LISTED_SOURCES ${listed})
  set(${out} ${paths} PARENT_SCOPE)
endfunction()

# vlm_sources(VAR file...): sets VAR to the files' absolute paths, in the caller's scope and as a
# global property of the same name (for a list that a target of another folder compiles too).
function(vlm_sources var)
  vlm_named_files(paths ${ARGN})
  set_property(GLOBAL PROPERTY ${var} ${paths})
  set(${var} ${paths} PARENT_SCOPE)
endfunction()

# vlm_core_sources(file...): sources of the conversion library vlmcore (and of its fuzzing twin),
# which gathers the folders of the pipeline; read back with the global property VLM_CORE_SOURCES.
function(vlm_core_sources)
  vlm_named_files(paths ${ARGN})
  set_property(GLOBAL APPEND PROPERTY VLM_CORE_SOURCES ${paths})
endfunction()

# Writes every listed source, one per line, for the test that looks for unlisted files.
function(vlm_write_source_lists file)
  get_property(listed GLOBAL PROPERTY VLM_LISTED_SOURCES)
  list(SORT listed)
  list(JOIN listed "\n" text)
  file(CONFIGURE OUTPUT "${file}" CONTENT "${text}\n" @ONLY)
endfunction()
