# Compiler settings shared by every target of the project. Each target links
# updater::options privately through updater_configure_target(), so that the
# flags never leak into targets we do not own (GoogleTest, benchmarks).
add_library(updater_options INTERFACE)
add_library(updater::options ALIAS updater_options)
target_compile_features(updater_options INTERFACE cxx_std_20)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(updater_options INTERFACE -Wall -Wextra)
  if(UPDATER_WARNINGS_AS_ERRORS)
    target_compile_options(updater_options INTERFACE -Werror)
  endif()
endif()

if(UPDATER_SANITIZE)
  set(_updater_san -fsanitize=address,undefined -fno-sanitize-recover=undefined
                   -fno-omit-frame-pointer)
  target_compile_options(updater_options INTERFACE ${_updater_san})
  target_link_options(updater_options INTERFACE ${_updater_san})
endif()

function(updater_configure_target target)
  target_link_libraries(${target} PRIVATE updater::options)
endfunction()

# Fuzz builds (clang only): every library gets libFuzzer's coverage hooks and
# the sanitizers; the fuzz programs themselves link -fsanitize=fuzzer. Undefined
# behaviour aborts, so that the fuzzer keeps the input as a finding.
if(UPDATER_BUILD_FUZZ)
  target_compile_options(updater_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  target_link_options(updater_options INTERFACE -fsanitize=address,undefined)
endif()
