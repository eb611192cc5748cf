# The telnet command parser: pure logic, no sockets, so it builds in every configuration.
add_library(terminal_telnet_parser STATIC ${CMAKE_CURRENT_LIST_DIR}/TelnetParser.cpp)
target_include_directories(terminal_telnet_parser PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The telnet client component and its reader thread, on the network layer.
add_library(terminal_telnet STATIC ${CMAKE_CURRENT_LIST_DIR}/TIdTelnet.cpp)
target_link_libraries(terminal_telnet PUBLIC terminal_net terminal_telnet_parser)
