# The windows and the calculation reach the table store only through the
# data layer: no file of theirs includes a header of the store or names one
# of its types. Run as a test: cmake -DSOURCE_DIR=<src> -P storereach.cmake
foreach(layer calc app)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  if(NOT files)
    message(FATAL_ERROR "no sources found under ${SOURCE_DIR}/${layer}")
  endif()
  foreach(path IN LISTS files)
    file(STRINGS "${path}" hits REGEX "#[ \t]*include[ \t]*[\"<]store/|store::")
    if(hits)
      list(APPEND offenders "${path}: ${hits}")
    endif()
  endforeach()
endforeach()
if(offenders)
  list(JOIN offenders "\n" text)
  message(FATAL_ERROR "reaches into the store instead of the data layer:\n${text}")
endif()
