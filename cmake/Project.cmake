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
endfunction()

# A folder's static library from its sources, listed by hand per platform
# (X.h is implemented by X.cpp, X_posix.cpp and X_win32.cpp):
#   ue_add_library(name PORTABLE X.cpp POSIX X_posix.cpp WIN32 X_win32.cpp)
function(ue_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PORTABLE;POSIX;WIN32")
  set(sources ${arg_PORTABLE})
  if(WIN32)
    list(APPEND sources ${arg_WIN32})
  else()
    list(APPEND sources ${arg_POSIX})
  endif()
  add_library(${name} STATIC ${sources})
  ue_target_settings(${name})
endfunction()

# zlib: the system's on Linux; on Windows Debian's MinGW build
# (libz-mingw-w64-dev), linked statically so that no zlib1.dll is needed.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)  # CMake 3.24+
endif()
find_package(ZLIB REQUIRED)

# Release builds carry no symbols or debug sections.
add_link_options($<$<CONFIG:Release>:-s>)

if(WIN32)
  # One static executable, no DLLs beside it; narrow strings stay ANSI.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
