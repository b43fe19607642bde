# Process launching and post-processing by file type, with the platform
# pieces under them: process handles, Wine, fonts.
set(_launch_support ${CMAKE_CURRENT_LIST_DIR}/launch_test_support.cc)
set(_platform_tests ${CMAKE_CURRENT_LIST_DIR}/../platform)

tidewell_add_test(platform_process_launch_test
    SOURCES ${_platform_tests}/process_launch_test.cc ${_launch_support}
    LIBS tidewell_platform tidewell_log)
tidewell_add_test(platform_wine_test
    SOURCES ${_platform_tests}/wine_test.cc ${_launch_support}
    LIBS tidewell_platform tidewell_log)
tidewell_add_test(platform_font_test
    SOURCES ${_platform_tests}/font_test.cc
    LIBS tidewell_platform)

tidewell_add_test(engine_post_process_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/post_process_test.cc ${_launch_support}
    LIBS tidewell_engine tidewell_test_engine_support)
