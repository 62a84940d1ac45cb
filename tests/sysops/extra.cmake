# Helper programs and libraries of the process, registration and restart tests.
if(NOT WIN32 AND TARGET sysops_tests)
  set(helpers ${CMAKE_CURRENT_LIST_DIR}/helpers)

  add_executable(ue_test_child ${helpers}/child.c)
  ue_target_settings(ue_test_child)

  add_executable(ue_test_launcher ${helpers}/launcher.cpp)
  ue_target_settings(ue_test_launcher)
  target_link_libraries(ue_test_launcher PRIVATE ue_sysops)

  # DllRegisterServer returning 0, 1 and only the highest bit set.
  foreach(variant IN ITEMS "ok;0" "one;1" "fail;(int32_t)0x80000000")
    list(GET variant 0 name)
    list(GET variant 1 status)
    add_library(ue_reg_${name} SHARED ${helpers}/reg_entry.c)
    ue_target_settings(ue_reg_${name})
    target_compile_definitions(ue_reg_${name} PRIVATE "UE_REG_STATUS=${status}")
  endforeach()
  add_library(ue_reg_none SHARED ${helpers}/reg_none.c)
  ue_target_settings(ue_reg_none)
  add_library(ue_reg_forward SHARED ${helpers}/reg_forward.c)
  ue_target_settings(ue_reg_forward)
  target_link_libraries(ue_reg_forward PRIVATE ue_reg_ok)
  # DllRegisterServer that aborts, dies of SIGSEGV, never returns or exits.
  foreach(variant IN ITEMS "abort;1" "segv;2" "hang;3" "exit;4")
    list(GET variant 0 name)
    list(GET variant 1 crash)
    add_library(ue_reg_${name} SHARED ${helpers}/reg_crash.c)
    ue_target_settings(ue_reg_${name})
    target_compile_definitions(ue_reg_${name} PRIVATE "UE_REG_CRASH=${crash}")
  endforeach()

  set(ue_sysops_helpers ue_test_child ue_test_launcher ue_reg_ok ue_reg_one ue_reg_fail
      ue_reg_none ue_reg_forward ue_reg_abort ue_reg_segv ue_reg_hang
      ue_reg_exit)
  add_dependencies(sysops_tests ${ue_sysops_helpers})
  target_compile_definitions(sysops_tests PRIVATE
    UE_TEST_CHILD="$<TARGET_FILE:ue_test_child>"
    UE_TEST_LAUNCHER="$<TARGET_FILE:ue_test_launcher>"
    UE_REG_OK="$<TARGET_FILE:ue_reg_ok>"
    UE_REG_ONE="$<TARGET_FILE:ue_reg_one>"
    UE_REG_FAIL="$<TARGET_FILE:ue_reg_fail>"
    UE_REG_NONE="$<TARGET_FILE:ue_reg_none>"
    UE_REG_FORWARD="$<TARGET_FILE:ue_reg_forward>"
    UE_REG_ABORT="$<TARGET_FILE:ue_reg_abort>"
    UE_REG_SEGV="$<TARGET_FILE:ue_reg_segv>"
    UE_REG_HANG="$<TARGET_FILE:ue_reg_hang>"
    UE_REG_EXIT="$<TARGET_FILE:ue_reg_exit>")
endif()
