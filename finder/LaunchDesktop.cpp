// The real launcher: xdg-open for what is opened, a plain start (no shell) for what is
// run. xdg-open's end is watched on the window thread, so its status can be told without
// waiting for it; a started program is only reaped when it ends.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <set>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Launch.h"
#include "cp932.h"
#include "qtext.h"

// Children we started and have not reaped yet. Each is watched through a pidfd (readable
// when the child ends), or polled where the kernel has none. Nothing here kills a child.
struct DesktopLauncher::Children {
    std::set<int> pids, pidfds;  // not reaped yet, and their open pidfds
    QObject context;       // parent of every watcher, so none outlives the launcher (goes first)

    void watch(int pid, std::function<void(int status)> ended) {
        // The system call itself: this glibc's header declares its wrapper without C linkage.
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (fd < 0) {
            auto* poll = new QTimer(&context);
            pids.insert(pid);
            QObject::connect(poll, &QTimer::timeout, &context, [this, poll, pid, ended] {
                if (reaped(pid, ended)) {
                    pids.erase(pid);
                    poll->deleteLater();
                }
            });
            poll->start(100);
            return;
        }
        pidfds.insert(fd);
        pids.insert(pid);
        auto* n = new QSocketNotifier(fd, QSocketNotifier::Read, &context);
        QObject::connect(n, &QSocketNotifier::activated, &context, [this, n, fd, pid, ended] {
            // Done with before the report, which may show a modal box.
            n->setEnabled(false);
            n->deleteLater();
            pidfds.erase(fd);
            ::close(fd);
            pids.erase(pid);
            if (!reaped(pid, ended))
                ::waitpid(pid, nullptr, 0);  // cannot be: the pidfd says it has ended
        });
    }

    // Those that have ended already are reaped; the others run on, unwatched.
    ~Children() {
        for (int fd : pidfds)
            ::close(fd);
        for (int pid : pids)
            ::waitpid(pid, nullptr, WNOHANG);
    }

private:
    static bool reaped(int pid, const std::function<void(int)>& ended) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid)
            return false;
        if (ended)
            ended(status);
        return true;
    }
};

DesktopLauncher::DesktopLauncher() : children_(std::make_unique<Children>()) {}
DesktopLauncher::DesktopLauncher(ProgramSearch search)
    : search_(std::move(search)), children_(std::make_unique<Children>()) {}
DesktopLauncher::~DesktopLauncher() = default;

ProgramSearch DesktopLauncher::search() const { return search_ ? *search_ : ProgramSearch::system(); }

void DesktopLauncher::fail(const LaunchFailure& failure) {
    if (OnFailed)
        OnFailed(failure);
}

void DesktopLauncher::openUrl(const std::string& url) {
    const QUrl u(toQ(url));
    if (!u.isValid())
        return fail({LaunchFailure::What::WebPage, url, LaunchFailure::Cause::BadAddress});
    open(LaunchFailure::What::WebPage, url, u.toEncoded().toStdString());
}

void DesktopLauncher::startUtility(const std::string& file, const std::string& parameters) {
    const std::string found = findProgram(file, search());
    if (found.empty())
        return fail({LaunchFailure::What::Program, file, LaunchFailure::Cause::NotFound});
    if (launchKindOf(found) == LaunchKind::Document)
        return open(LaunchFailure::What::Document, file, found);
    std::vector<std::string> args;
    for (const std::string& a : splitArguments(parameters))
        args.push_back(cp932::toUtf8(a));
    int pid = -1;
    if (const int err = startChild(found, args, pid))
        return fail({LaunchFailure::What::Program, file, LaunchFailure::Cause::StartFailed, err});
    children_->watch(pid, nullptr);  // not watched for the user: only reaped
}

// xdg-open with one argument; its exit status says whether the desktop could open it.
void DesktopLauncher::open(LaunchFailure::What what, const std::string& target, const std::string& argument) {
    const std::string opener = findOnPath("xdg-open", search().path);
    if (opener.empty())
        return fail({what, target, LaunchFailure::Cause::OpenerMissing});
    int pid = -1;
    if (const int err = startChild(opener, {argument}, pid))
        return fail({what, target, LaunchFailure::Cause::StartFailed, err});
    children_->watch(pid, [this, what, target](int status) {
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            fail({what, target, LaunchFailure::Cause::OpenerFailed, WEXITSTATUS(status)});
        else if (WIFSIGNALED(status))
            fail({what, target, LaunchFailure::Cause::OpenerKilled, WTERMSIG(status)});
    });
}
