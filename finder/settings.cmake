# Table rules, settings and model-name files, launch texts and program lookup: plain C++.
add_library(finder_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TableSort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Launch.cpp)
target_include_directories(finder_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(finder_settings PUBLIC qlx_text qlx_ini)

# Their desktop side: the locale collation of the sort and the real launcher.
add_library(finder_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/TableSortCollator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LaunchDesktop.cpp)
target_link_libraries(finder_desktop PUBLIC finder_settings qlx_qtcommon Qt6::Gui)

# The settings panel's controls, built for the main window.
add_library(finder_panel STATIC ${CMAKE_CURRENT_LIST_DIR}/SettingsPanel.cpp)
target_include_directories(finder_panel PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(finder_panel PUBLIC qlx_qtcommon Qt6::Widgets)
