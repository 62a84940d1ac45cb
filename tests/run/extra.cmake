# The crash test's child: one real run on a given installation, to be killed.
if(NOT WIN32 AND TARGET run_tests)
  add_executable(run_crash_child ${CMAKE_CURRENT_LIST_DIR}/crash_child.cpp)
  ue_target_settings(run_crash_child)
  target_link_libraries(run_crash_child PRIVATE ue_run)
  add_dependencies(run_tests run_crash_child)
  target_compile_definitions(run_tests PRIVATE
    UE_RUN_CRASH_CHILD="$<TARGET_FILE:run_crash_child>")
endif()
