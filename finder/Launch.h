#pragma once
// Reaching the selected appliance: the web address, the utility's parameters, where
// the utility program is found, and the launcher that starts them without waiting.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Table form 192.168.001.010 to plain 192.168.1.10; missing parts give 0, parts
// after the fourth are dropped, a part that is not a decimal number gives 0.
std::string NormalizeIp(std::string_view tableIp);

// "http://" + plain address, then ":" + port when a port is set (also for 80).
std::string webAddress(std::string_view tableIp, std::string_view webPort);

// Plain address, then a blank and the port when a port is set.
std::string utilityParameters(std::string_view tableIp, std::string_view utilityPort);

// The parameters text split at blanks; no quoting, nothing a shell would interpret.
std::vector<std::string> splitArguments(std::string_view parameters);

// Where a program is looked for. A name with a "/" is taken as it is (relative to
// the current folder); a bare name is tried in the finder's own folder, then the
// current folder, then each folder of PATH (there only executable files count).
struct ProgramSearch {
    std::string ownFolder;
    std::string currentFolder;
    std::string path;  // $PATH
    static ProgramSearch system();
};

// The file found, or "" when there is none. Only regular files count, never folders.
std::string findProgram(std::string_view name, const ProgramSearch& search);

// What starting a found file means: a program is run, anything else is opened.
enum class LaunchKind { Program, Document };
LaunchKind launchKindOf(const std::string& file);

// The finder's two ways out. Neither waits for what it starts nor reports failure.
class Launcher {
public:
    virtual ~Launcher() = default;
    virtual void openUrl(const std::string& url) = 0;
    // file as configured, parameters as formed by utilityParameters().
    virtual void startUtility(const std::string& file, const std::string& parameters) = 0;
};

// The desktop's URL opener and a detached process start.
class DesktopLauncher : public Launcher {
public:
    // Without a search the finder's own is taken at each start, as the button rule does.
    DesktopLauncher() = default;
    explicit DesktopLauncher(ProgramSearch search) : search_(std::move(search)) {}
    void openUrl(const std::string& url) override;
    void startUtility(const std::string& file, const std::string& parameters) override;

private:
    std::optional<ProgramSearch> search_;
};
