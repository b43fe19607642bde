# Shared compile flags: every project target links tidewell_flags.
add_library(tidewell_flags INTERFACE)
target_compile_options(tidewell_flags INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wformat=2 -Wimplicit-fallthrough -Wcast-qual -Wmissing-declarations)
# GCC 12 reports std::string copies as overlapping at -O3 (a known false
# positive in its own headers); keep it from breaking -Werror builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(tidewell_flags INTERFACE -Wno-restrict)
endif()
if(TIDEWELL_WERROR)
    target_compile_options(tidewell_flags INTERFACE -Werror)
endif()
if(TIDEWELL_SANITIZE)
    target_compile_options(tidewell_flags INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(tidewell_flags INTERFACE -fsanitize=address,undefined)
endif()
if(TIDEWELL_FUZZ)
    # Coverage for libFuzzer in every library; the fuzz targets link the
    # fuzzer's main themselves.
    target_compile_options(tidewell_flags INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=all)
    target_link_options(tidewell_flags INTERFACE -fsanitize=address,undefined)
endif()
if(TIDEWELL_TSAN)
    target_compile_options(tidewell_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(tidewell_flags INTERFACE -fsanitize=thread)
endif()
if(TIDEWELL_COVERAGE)
    # -O0 so every line the tests reach is counted where it stands.
    target_compile_options(tidewell_flags INTERFACE --coverage -O0)
    target_link_options(tidewell_flags INTERFACE --coverage)
endif()
target_link_libraries(tidewell_flags INTERFACE Threads::Threads)

# Adds one source per OS for a platform interface: name.h with name-posix.cc
# or name-win32.cc next to it.
function(tidewell_platform_sources target)
    foreach(name IN LISTS ARGN)
        if(WIN32)
            target_sources(${target} PRIVATE ${name}-win32.cc)
        else()
            target_sources(${target} PRIVATE ${name}-posix.cc)
        endif()
    endforeach()
endfunction()
