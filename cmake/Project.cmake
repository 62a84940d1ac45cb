# Shared settings for every target of the project.

# -O3 in GCC 12 raises false -Wrestrict alarms inside std::string; -O2 is as fast here.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG")

# Warnings on for our own code; errors in CI (UE_WERROR).
function(ue_target_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(UE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(WIN32)
    # Narrow strings on the suite's systems are GBK (code page 936); sources are UTF-8.
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fexec-charset=GBK>)
  endif()
endfunction()

# Collects a folder's sources by the platform naming rule: *_posix.cpp and
# *_sqlite.cpp only on Linux, *_win32.cpp only on Windows, the rest on both.
function(ue_platform_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS "${dir}/*.cpp")
  set(result "")
  foreach(f IN LISTS all)
    get_filename_component(name ${f} NAME)
    if(name MATCHES "_(posix|sqlite)\\.cpp$")
      if(NOT WIN32)
        list(APPEND result ${f})
      endif()
    elseif(name MATCHES "_win32\\.cpp$")
      if(WIN32)
        list(APPEND result ${f})
      endif()
    else()
      list(APPEND result ${f})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

if(WIN32)
  # One static executable, no DLLs beside it; narrow strings stay ANSI.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
