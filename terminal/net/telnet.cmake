# The telnet command parser: pure logic, no sockets, so it builds in every configuration.
add_library(terminal_telnet_parser STATIC ${CMAKE_CURRENT_LIST_DIR}/TelnetParser.cpp)
target_include_directories(terminal_telnet_parser PUBLIC ${CMAKE_CURRENT_LIST_DIR})
