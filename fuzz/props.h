#pragma once
// One property check per input boundary. Each takes any bytes and returns "" when the
// property holds, else what failed. The libFuzzer targets and the corpus replay in the
// ordinary test builds call the same functions, so a stored input means the same in both.
#include <string>
#include <string_view>

namespace fuzzprops {

using Check = std::string (*)(std::string_view input);

struct Target {
    const char* name;  // also the corpus folder's name
    Check check;
};

std::string discovery(std::string_view input);     // datagrams through the receive path
std::string address(std::string_view input);       // dotted text split into octets
std::string settingsFile(std::string_view input);  // INI text through find and put
std::string telnet(std::string_view input);        // byte stream cut where the input says
std::string lines(std::string_view input);         // chunks through the line assembly
std::string commandLine(std::string_view input);   // qterm's arguments and port text
std::string launchTexts(std::string_view input);   // DigitsOnly and the launch texts

inline constexpr Target kTargets[] = {
    {"discovery", discovery},       {"address", address}, {"settings_file", settingsFile},
    {"telnet", telnet},             {"lines", lines},     {"command_line", commandLine},
    {"launch_texts", launchTexts},
};

}  // namespace fuzzprops
