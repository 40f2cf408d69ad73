// Becoming a background service: detaching, sending the standard streams
// to the system log or to hourly log files, the pid file, and finding a
// process by its command name.
#pragma once

#include "framework/fd.h"
#include "framework/put_area.h"

#include <fstream>
#include <string>
#include <sys/types.h>

class LogFileStreamBuf;

namespace Daemon {

struct Params {
    Params() = default;
    ~Params() = default;

    int mMode = 0;          // 0: system log, 1: hourly log files
    bool mNochdir = false;  // keep the working directory when detaching
    std::string mName = "unknown"; // system-log identity, or the log directory
};

class Sentry {
public:
    explicit Sentry(const Params& params);
    ~Sentry();
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;

private:
    int mMode;
    LogFileStreamBuf* mLogFile;
};

// Detaches and redirects the standard streams; only the first call acts.
void Init(const Params& params);

} // namespace Daemon

// Writes stream text to a file per hour of day ("<dir>/%Y_%m_%d-%H.log"),
// each line prefixed with minute, second and microseconds.
class LogFileStreamBuf : public PutAreaStreamBuf {
public:
    explicit LogFileStreamBuf(const std::string& dir);
    // Pending text is written first.
    ~LogFileStreamBuf() override;

    // Opens the file of the current hour; nonzero when it opened. An
    // existing file is appended to, so a restart keeps the hour's earlier lines.
    int NewFile();

protected:
    // A buffer given here stays the caller's; only the own one is freed.
    std::streambuf* setbuf(char* buffer, std::streamsize n) override;
    int sync() override;

private:
    void write(const char* text, size_t n) { mFile->sputn(text, static_cast<std::streamsize>(n)); }

    std::filebuf* mFile;
    std::string mDir;
    int mHour;
    bool mMidLine;
};

namespace Linux {

// The pid file "<dir>/<name>.pid", dir being /var/run: the decimal process
// id without a line end, mode 0644, removed when the object goes. A file
// that names another live process of this program is left alone: this
// instance is refused. A file that cannot be written is reported on
// std::cerr.
class Run {
public:
    explicit Run(const char* name);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const std::string& path() const { return mPath; }
    // Another instance holds the file; it was not touched.
    bool refused() const { return mHolder > 0; }
    pid_t holder() const { return mHolder; }

    // The live process of this program, other than this one, that the pid
    // file of that name names; 0 when there is none.
    static pid_t Holder(const char* name);

    // For tests only: the directory of pid files made from now on.
    static void set_dir_for_test(const std::string& dir);

private:
    Fd mFd;
    std::string mPath;
    pid_t mOwner;
    pid_t mHolder = 0;
};

} // namespace Linux

// The id of a process whose command name is exactly 'name', or -1. A hint
// > 0 is checked first and returned when it matches.
int find_proc_by_name(const char* name, int hint);
