# quorvane_add_test(<name> SOURCES <file>... [LIBRARIES <target>...]
#                   [SESSION] [DISPLAY] [GUI] [SESSION_OPTIONS <option>...] [LABELS <label>...]
#                   [TIMEOUT <seconds>])
#
# SESSION runs the test inside scripts/private-session.sh (real systemd --user, session bus,
# Secret Service, temporary home), with SESSION_OPTIONS given to it; DISPLAY adds an Xvfb screen
# to it; GUI runs on the
# offscreen platform, with a large screen first and two common small ones beside it
# (tests/data/offscreen-screens.json). Tests find the built programs through QUORVANE_PREFIX,
# the build tree's install-like prefix.
function(quorvane_add_test name)
  cmake_parse_arguments(arg "SESSION;DISPLAY;GUI" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;SESSION_OPTIONS"
                        ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${arg_LIBRARIES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

  set(command $<TARGET_FILE:${name}>)
  set(labels ${arg_LABELS})
  if(arg_DISPLAY)
    set(command ${PROJECT_SOURCE_DIR}/scripts/private-session.sh --display ${arg_SESSION_OPTIONS} --
                ${command})
    list(APPEND labels session)
  elseif(arg_SESSION)
    set(command ${PROJECT_SOURCE_DIR}/scripts/private-session.sh ${arg_SESSION_OPTIONS} -- ${command})
    list(APPEND labels session)
  else()
    list(APPEND labels unit)
  endif()
  add_test(NAME ${name} COMMAND ${command})

  set(environment "QUORVANE_PREFIX=${CMAKE_BINARY_DIR}" "QUORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                  "LC_ALL=C.UTF-8")
  if(arg_GUI)
    list(APPEND environment
         "QT_QPA_PLATFORM=offscreen:configfile=${PROJECT_SOURCE_DIR}/tests/data/offscreen-screens.json")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" ENVIRONMENT "${environment}"
                                          TIMEOUT ${arg_TIMEOUT})
endfunction()
