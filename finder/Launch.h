#pragma once
// Reaching the selected appliance: the web address, the utility's parameters, where
// the utility program is found, and the launcher that starts them without waiting.
#include <functional>
#include <memory>
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
// The first executable file of that name in a folder of `path` (a $PATH value), or "".
std::string findOnPath(const std::string& name, const std::string& path);

// What starting a found file means: a program is run, anything else is opened.
enum class LaunchKind { Program, Document };
LaunchKind launchKindOf(const std::string& file);

// Starts the program at `path` with the arguments (argv[0] is the path) as a child of
// ours, without a shell. 0 and the child's pid, or the errno of the failed start.
int startChild(const std::string& path, const std::vector<std::string>& args, int& pid);

// Why a launch came to nothing, for the warning box.
struct LaunchFailure {
    enum class What { WebPage, Program, Document };
    enum class Cause {
        NotFound,       // the utility file is not there (any more)
        BadAddress,     // the web address is not a URL
        OpenerMissing,  // no xdg-open on PATH
        OpenerFailed,   // xdg-open ended with status `code`
        OpenerKilled,   // xdg-open ended by signal `code`
        StartFailed,    // the start itself failed with errno `code`
    };
    What what;
    std::string target;  // the address or the utility file as configured (CP932)
    Cause cause;
    int code = 0;
};

// The warning box's text: what could not be opened or started, a blank line, and why (CP932).
std::string launchFailureText(const LaunchFailure& failure);

// The finder's two ways out. Neither waits for what it starts; a start that fails, at once
// or when the opener ends, is told to OnFailed.
class Launcher {
public:
    virtual ~Launcher() = default;
    std::function<void(const LaunchFailure&)> OnFailed;
    virtual void openUrl(const std::string& url) = 0;
    // file as configured, parameters as formed by utilityParameters().
    virtual void startUtility(const std::string& file, const std::string& parameters) = 0;
};

// xdg-open for what is opened, watched until it ends; a plain start for what is run.
class DesktopLauncher : public Launcher {
public:
    // Without a search the finder's own is taken at each start, as the button rule does;
    // xdg-open is looked for on the search's PATH.
    DesktopLauncher();
    explicit DesktopLauncher(ProgramSearch search);
    // Children still running are left to run.
    ~DesktopLauncher() override;
    void openUrl(const std::string& url) override;
    void startUtility(const std::string& file, const std::string& parameters) override;

private:
    ProgramSearch search() const;
    void open(LaunchFailure::What what, const std::string& target, const std::string& argument);
    void fail(const LaunchFailure& failure);

    std::optional<ProgramSearch> search_;
    struct Children;
    std::unique_ptr<Children> children_;
};
