#pragma once
// The session's text in a file: UTF-8, one line per screen line, LF line ends, NUL
// bytes left out. Every batch of completed lines goes to the file in one write(2), so
// the file holds each line as soon as it is complete and survives the program being
// killed; nothing is buffered in the process.
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class SessionLogError : public std::runtime_error {
public:
    SessionLogError(bool opening, std::string path, int err);
    bool opening;        // false: a write failed
    std::string path;
    std::string reason;  // the system's text for the error
};

class SessionLog {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Append: a file the user named, appended to (created 0600 when new: a session may
    // hold secrets). NewFile: a name the program chose, in a folder others may write too,
    // so only a new file is made, never through a link: on a clash "-2", "-3", ... goes
    // before the extension. Throws SessionLogError when no file can be opened.
    enum class Open { Append, NewFile };
    explicit SessionLog(std::string path, bool timestamps = false, Clock clock = nullptr,
                        Open how = Open::Append);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    const std::string& path() const { return path_; }
    void setTimestamps(bool on) { timestamps_ = on; }
    bool timestamps() const { return timestamps_; }

    // Lines completed by one received chunk, each without its line end.
    // Throws SessionLogError when the file cannot be written.
    void lines(const std::vector<std::string>& utf8Lines);
    // The same for lines held elsewhere, without copying them.
    void lineViews(const std::vector<std::string_view>& utf8Lines);
    // The end of the session: the line being written, when it holds anything, then the
    // file is closed. Later calls do nothing.
    void finish(const std::string& currentLineUtf8);

private:
    void append(std::string& out, std::string_view line) const;
    void writeAll(const std::string& bytes);

    std::string path_;
    bool timestamps_;
    Clock clock_;
    int fd_ = -1;
};

// "[YYYY-MM-DD HH:MM:SS.mmm] " in local time.
std::string logTimestamp(std::chrono::system_clock::time_point t);
