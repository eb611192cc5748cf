qlx_add_gtest(telnet_parser_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/telnet_parser_test.cpp
  LIBS terminal_telnet_parser)
qlx_add_gtest(telnet_engine_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/telnet_engine_test.cpp
  LIBS terminal_telnet terminal_net_testsupport TIMEOUT 120)
qlx_add_gtest(telnet_telnetd_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/telnet_telnetd_test.cpp
  LIBS terminal_telnet terminal_net_testsupport TIMEOUT 120)
