#pragma once

#include <cups/cups.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace tessaly::testing {

// A CUPS daemon of the test's own, in a temporary folder, reached through
// CUPS_SERVER like any client reaches its server. Serial, parallel and USB
// backends are stubs, so queues on those devices can be created without hardware.
// The journal of paused queues goes to a folder of its own too (XDG_STATE_HOME).
// Other users may reach the daemon's socket, so that a test can run a program as
// an unprivileged user against it.
class PrivateCupsd {
  public:
    PrivateCupsd() {
        char pattern[] = "/tmp/cu.XXXXXX";  // socket paths must stay short
        dir_ = mkdtemp(pattern);
        namespace fs = std::filesystem;
        fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        setenv("XDG_STATE_HOME", (dir_ / "state-home").c_str(), 1);
        for (const char* sub : {"spool", "cache", "state", "tmp", "bin", "bin/backend", "ppd"})
            fs::create_directories(dir_ / sub);
        for (const auto& entry : fs::directory_iterator("/usr/lib/cups")) {
            if (entry.path().filename() == "backend") continue;
            fs::create_directory_symlink(entry.path(), dir_ / "bin" / entry.path().filename());
        }
        for (const auto& entry : fs::directory_iterator("/usr/lib/cups/backend"))
            fs::create_symlink(entry.path(), dir_ / "bin/backend" / entry.path().filename());
        for (const char* stub : {"serial", "parallel", "usb"}) {
            const fs::path path = dir_ / "bin/backend" / stub;
            fs::remove(path);
            std::ofstream(path) << "#!/bin/sh\n[ $# -eq 0 ] && exit 0\ncat >/dev/null\n";
            fs::permissions(path, fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
        }
        const std::string d = dir_.string();
        std::ofstream(dir_ / "cups-files.conf")
            << "ServerRoot " << d << "\nRequestRoot " << d << "/spool\nCacheDir " << d
            << "/cache\nStateDir " << d << "/state\nTempDir " << d << "/tmp\nServerBin " << d
            << "/bin\nAccessLog " << d << "/access_log\nErrorLog " << d << "/error_log\nPageLog "
            << d << "/page_log\nSystemGroup root\nPeerCred on\n";
        std::ofstream(dir_ / "cupsd.conf")
            << "Listen " << socket() << "\nBrowsing No\nWebInterface No\nLogLevel warn\n"
            << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
            << "<Policy default>\n"
            << "  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer "
               "CUPS-Add-Modify-Printer CUPS-Delete-Printer>\n"
            << "    AuthType Default\n    Require user @SYSTEM\n    Order deny,allow\n"
            << "  </Limit>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";

        pid_ = fork();
        if (pid_ == 0) {
            unsetenv("LD_PRELOAD");  // the daemon sees the real system, not umockdev's
            const std::string conf = d + "/cupsd.conf";
            const std::string files = d + "/cups-files.conf";
            execlp("cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr);
            _exit(127);
        }
        setenv("CUPS_SERVER", socket().c_str(), 1);
        cupsSetServer(nullptr);  // forget any server this thread has looked up before
        for (int i = 0; i < 250 && !Ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    ~PrivateCupsd() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            for (int i = 0; i < 250 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        unsetenv("CUPS_SERVER");
        unsetenv("XDG_STATE_HOME");
        cupsSetServer(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    std::string socket() const { return (dir_ / "cups.sock").string(); }
    // Where programs started by the test keep their journal of paused queues.
    std::filesystem::path journalFolder() const { return dir_ / "state-home/tessaly"; }
    // The records in a journal folder (this daemon's by default).
    std::vector<std::filesystem::path> JournalFiles(std::filesystem::path folder = {}) const {
        if (folder.empty()) folder = journalFolder();
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            if (entry.path().extension() == ".journal") files.push_back(entry.path());
        return files;
    }
    const std::filesystem::path& dir() const { return dir_; }
    pid_t pid() const { return pid_; }
    // lpstat -r exits with 0 either way: only its text tells.
    bool Ready() const { return Output("lpstat -r") == "scheduler is running\n"; }

    // Runs a CUPS command: its output (both streams) and exit status.
    static std::string Output(const std::string& command, int* code = nullptr) {
        std::string output;
        int status = -1;
        if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
            char buffer[512];
            while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
            status = pclose(pipe);
        }
        if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return output;
    }
    // Runs a CUPS command; its output is shown only when it fails.
    static int Run(const std::string& command) {
        int code = 0;
        const std::string output = Output(command, &code);
        if (code != 0)
            std::fprintf(stderr, "'%s' failed (%d): %s\n", command.c_str(), code, output.c_str());
        return code;
    }

    // A raw queue printing to uri, accepting jobs and enabled.
    static bool AddQueue(const std::string& name, const std::string& uri) {
        return Run("lpadmin -p " + name + " -v '" + uri + "' -E") == 0;
    }
    static bool PauseQueue(const std::string& name) { return Run("cupsdisable " + name) == 0; }
    static bool ResumeQueue(const std::string& name) { return Run("cupsenable " + name) == 0; }

    // Whether lpstat reports the queue as stopped ("disabled").
    static bool Paused(const std::string& name) {
        return Output("lpstat -p " + name).find("disabled") != std::string::npos;
    }
    // What lpstat says about the queue: its state and the reason it was stopped.
    static std::string Status(const std::string& name) { return Output("lpstat -p " + name); }
    // Stops a queue with a reason, as an administrator would.
    static bool PauseQueue(const std::string& name, const std::string& reason) {
        return Run("cupsdisable -r '" + reason + "' " + name) == 0;
    }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

}  // namespace tessaly::testing
