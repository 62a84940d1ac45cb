# Windows-only suites: our Update.ini reader and writer against the real
# profile functions (run under Wine when cross-built).
if(WIN32)
  add_executable(win_profile_tests ${CMAKE_CURRENT_LIST_DIR}/ProfileConformance.cpp)
  ue_target_settings(win_profile_tests)
  target_link_libraries(win_profile_tests PRIVATE ue_test_support ue_records)
  add_test(NAME win_profile_tests COMMAND win_profile_tests)
  # A Chinese (PRC) locale gives code page 936, so the GBK cases run too.
  set_tests_properties(win_profile_tests PROPERTIES ENVIRONMENT "LC_ALL=zh_CN.UTF-8")
endif()
