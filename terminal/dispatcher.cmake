# The window thread's end of the reader hand-off; Qt Core only, so the thread-checked build
# can take it without the widgets.
add_library(qterm_dispatcher STATIC ${CMAKE_CURRENT_LIST_DIR}/QtWindowDispatcher.cpp)
target_include_directories(qterm_dispatcher PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(qterm_dispatcher PUBLIC terminal_net Qt6::Core)
