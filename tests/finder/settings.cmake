# Settings file, model-name file, table rules and launching.
set(QLX_GOLDEN "QLX_GOLDEN_DIR=\"${CMAKE_CURRENT_LIST_DIR}/golden\"")

qlx_add_gtest(finder_ini_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_file_test.cpp
  LIBS qlx_ini finder_settings)
target_compile_definitions(finder_ini_test PRIVATE ${QLX_GOLDEN})

# These two feed the discovery decoder and the table through it.
if(TARGET qlx_finder_core)
qlx_add_gtest(finder_settings_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_file_test.cpp
  LIBS finder_settings qlx_finder_core)
target_compile_definitions(finder_settings_test PRIVATE ${QLX_GOLDEN})

qlx_add_gtest(finder_table_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/table_rules_test.cpp
  LIBS finder_desktop qlx_finder_core)
endif()

add_executable(finder_launch_probe ${CMAKE_CURRENT_LIST_DIR}/launch_probe.cpp)
# With an application: the real launcher watches what it starts on the event loop.
qlx_add_gtest(finder_launch_test GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/launch_rules_test.cpp
  LIBS finder_desktop qlx_gui_test_main)
target_compile_definitions(finder_launch_test PRIVATE
  "QLX_LAUNCH_PROBE=\"$<TARGET_FILE:finder_launch_probe>\"")
add_dependencies(finder_launch_test finder_launch_probe)

# The window's settings panel and its launching, offscreen.
if(TARGET qlx_finder_ui)
qlx_add_gtest(finder_settings_panel_test GUI
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_panel_test.cpp
  LIBS qlx_finder_ui qlx_gui_test_main)
target_compile_definitions(finder_settings_panel_test PRIVATE ${QLX_GOLDEN})
qlx_add_gtest(finder_launch_window_test GUI TIMEOUT 180
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/launch_window_test.cpp
  LIBS qlx_finder_ui qlx_sim qlx_gui_test_main)
target_compile_definitions(finder_launch_window_test PRIVATE
  "QLX_LAUNCH_PROBE=\"$<TARGET_FILE:finder_launch_probe>\"")
add_dependencies(finder_launch_window_test finder_launch_probe)
endif()
