# The UI suites (GoogleTest with QApplication on the offscreen platform) and
# the end-to-end test of the program under Xvfb.
if(TARGET ue_ui)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  find_package(SQLite3 REQUIRED)
  file(GLOB ui_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
  add_executable(ui_tests ${ui_test_sources} ${CMAKE_CURRENT_LIST_DIR}/ui_main.cpp)
  ue_target_settings(ui_tests)
  target_link_libraries(ui_tests PRIVATE ue_ui ue_test_support Qt6::Test SQLite::SQLite3)
  gtest_discover_tests(ui_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)

  if(TARGET UpdateExe)
    # Sends the window manager's close request (the close button) to a window.
    find_package(X11)
    if(X11_FOUND)
      add_executable(ui_wmclose ${CMAKE_CURRENT_LIST_DIR}/wmclose.cpp)
      ue_target_settings(ui_wmclose)
      target_link_libraries(ui_wmclose PRIVATE X11::X11)
      set(ui_wmclose_path $<TARGET_FILE:ui_wmclose>)
    else()
      set(ui_wmclose_path "")
    endif()
    add_test(NAME ui_e2e
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/e2e.sh $<TARGET_FILE:UpdateExe> "${ui_wmclose_path}"
              ${PROJECT_SOURCE_DIR}/records/schema.sql)
    # Without a display the program says so and ends with 0, touching nothing:
    # run a copy in a fresh folder and check the folder stays as it was.
    add_test(NAME ui_no_display
      COMMAND sh -c "d=$(mktemp -d) && cp \"$1\" \"$d/\" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"$d/UpdateExe\" 2>\"$d.err\"; rc=$?; n=$(ls -A \"$d\" | wc -l); grep -q 'no display' \"$d.err\"; found=$?; rm -rf \"$d\" \"$d.err\"; test $rc -eq 0 && test $n -eq 1 && test $found -eq 0"
              sh $<TARGET_FILE:UpdateExe>)
    # 77: Xvfb or xdotool missing.
    set_tests_properties(ui_e2e PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77 RUN_SERIAL TRUE)
  endif()
endif()
