// What the real monitor gives up once capturing, and the log files it will not
// write through: whom it runs as, its capabilities, and planted files left
// untouched.
#include <pwd.h>
#include <sys/statvfs.h>

#include <filesystem>

#include "console/messages.hpp"
#include "e2e_support.hpp"
#include "support/command.hpp"

namespace {

// The value of `field` ("Uid", "CapEff", ...) in /proc/PID/status.
std::string status_field(pid_t pid, const std::string& field) {
    std::istringstream lines(e2e::read_file("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            const std::size_t start = line.find_first_not_of(" \t", field.size() + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "<no " + field + ">";
}

uid_t nobody_uid() {
    const passwd* entry = getpwnam("nobody");
    return entry != nullptr ? entry->pw_uid : 65534;
}

class PrivilegesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = e2e::make_temp_dir();
        // Writable by the user the monitor becomes.
        chmod(dir.c_str(), 0777);
    }

    void TearDown() override {
        e2e::stop(monitor);
        std::filesystem::remove_all(dir);
    }

    // Starts the monitor under `env` with `environment` (NAME=VALUE words).
    void start(const std::vector<std::string>& environment,
               const std::vector<std::string>& arguments) {
        std::vector<std::string> command{"env", "-u", "SUDO_UID", "-u", "SUDO_GID"};
        command.insert(command.end(), environment.begin(), environment.end());
        command.emplace_back(PKTWATCH_EXE);
        command.insert(command.end(), arguments.begin(), arguments.end());
        monitor = e2e::start_process(dir, command);
    }

    std::string dir;
    e2e::Monitor monitor;
};

TEST_F(PrivilegesTest, CapturesAsTheSudoUserWithoutCapabilities) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string nobody = std::to_string(nobody_uid());
    const struct {
        const char* name;
        std::vector<std::string> environment;
        std::vector<std::string> options;
        std::string uid;
    } cases[] = {
        {"sudo_user", {"SUDO_UID=" + nobody, "SUDO_GID=" + nobody}, {}, nobody},
        {"user_option", {}, {"--user", "nobody"}, nobody},
        {"root_without_sudo", {}, {}, "0"},
        {"user_root_over_sudo",
         {"SUDO_UID=" + nobody, "SUDO_GID=" + nobody},
         {"--user", "root"},
         "0"},
        {"sudo_uid_0", {"SUDO_UID=0", "SUDO_GID=0"}, {}, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = dir + "/" + c.name + ".log";
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.end(), {"-f", log, "127.0.0.1"});
        start(c.environment, arguments);
        ASSERT_TRUE(e2e::wait_for_text(log, "OPTIONS")) << e2e::read_file(monitor.err_path);

        EXPECT_EQ(status_field(monitor.pid, "Uid"),
                  c.uid + "\t" + c.uid + "\t" + c.uid + "\t" + c.uid);
        // nobody's group is nogroup, 65534 as well.
        EXPECT_EQ(status_field(monitor.pid, "Gid"),
                  c.uid + "\t" + c.uid + "\t" + c.uid + "\t" + c.uid);
        for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb"}) {
            EXPECT_EQ(status_field(monitor.pid, set), "0000000000000000") << set;
        }
        EXPECT_EQ(status_field(monitor.pid, "NoNewPrivs"), "1");
        struct stat info {};
        ASSERT_EQ(stat(log.c_str(), &info), 0);
        EXPECT_EQ(std::to_string(info.st_uid), c.uid);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        e2e::stop(monitor);
    }
}

// A capture file is read as the user the monitor becomes: through sudo, a
// file only root may read is refused; as root it is read.
TEST_F(PrivilegesTest, ACaptureFileIsReadAsTheUserTheMonitorBecomes) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "not running as root: there is no user to become";
    }
    const std::string file = dir + "/root-only.pcap";
    // A pcap file header of raw IPv4 records (LINKTYPE_IPV4), and no record.
    const unsigned char header[24] = {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0,   0, 0, 0,
                                      0,    0,    0,    0,    0, 0, 1, 0, 228, 0, 0, 0};
    e2e::write_file(file, std::string(reinterpret_cast<const char*>(header), sizeof header));
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    const std::string nobody = std::to_string(nobody_uid());
    const struct {
        const char* name;
        std::vector<std::string> environment;
        int status;
        std::string err_start;
    } cases[] = {
        {"through_sudo",
         {"SUDO_UID=" + nobody, "SUDO_GID=" + nobody},
         255,
         "pktwatch: " + file + ": "},
        {"as_root", {}, 0, "pktwatch: 0 datagrams received"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.environment, {"--read", file});
        EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), c.status);
        const std::string err = e2e::read_file(monitor.err_path);
        EXPECT_EQ(err.rfind(c.err_start, 0), 0u) << err;
        if (c.status != 0) {
            EXPECT_NE(err.find(std::strerror(EACCES)), std::string::npos) << err;
        }
    }
}

// An ordinary user given only cap_net_raw on the executable keeps none of it.
TEST_F(PrivilegesTest, FileCapabilityIsGivenUp) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    // The kernel gives no file capability to a program started from a nosuid
    // file system (a /tmp mounted nosuid, as a tmpfs often is).
    struct statvfs volume {};
    if (statvfs(dir.c_str(), &volume) == 0 && (volume.f_flag & ST_NOSUID) != 0) {
        GTEST_SKIP() << dir
                     << " is on a file system mounted nosuid: file capabilities do not apply";
    }
    const std::string program = dir + "/pktwatch";
    std::filesystem::copy_file(PKTWATCH_EXE, program);
    chmod(program.c_str(), 0755);
    const test_support::CommandResult setcap =
        test_support::run_command("setcap cap_net_raw+ep " + program);
    if (!setcap.succeeded) {
        GTEST_SKIP() << "cannot give a file capability here: setcap cap_net_raw+ep " << program
                     << ": " << setcap.output;
    }
    const std::string nobody = std::to_string(nobody_uid());
    monitor =
        e2e::start_process(dir, {"setpriv", "--reuid=" + nobody, "--regid=" + nobody,
                                 "--clear-groups", program, "-f", dir + "/cap.log", "127.0.0.1"});
    ASSERT_TRUE(e2e::wait_for_text(dir + "/cap.log", "OPTIONS"))
        << e2e::read_file(monitor.err_path);
    EXPECT_EQ(status_field(monitor.pid, "Uid").substr(0, nobody.size()), nobody);
    EXPECT_EQ(status_field(monitor.pid, "CapPrm"), "0000000000000000");
    EXPECT_EQ(status_field(monitor.pid, "CapEff"), "0000000000000000");
    EXPECT_EQ(status_field(monitor.pid, "NoNewPrivs"), "1");
}

// Names the monitor must not write through: each is refused with status 255
// and left exactly as it was. The planted files are writable by all, so that
// only the owner check stands in the way.
TEST_F(PrivilegesTest, PlantedLogFilesAreRefusedAndLeftAlone) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string kept = "someone else's text\n";
    const std::string target = dir + "/target";
    const uid_t nobody = nobody_uid();
    const struct {
        const char* name;
        std::string reason;  // in the line on standard error
        bool (*plant)(const std::string& path, const std::string& target, uid_t nobody);
    } cases[] = {
        {"symlink", "symbolic link",
         [](const std::string& path, const std::string& to, uid_t) {
             return symlink(to.c_str(), path.c_str()) == 0;
         }},
        {"foreign_file", "another user",
         [](const std::string& path, const std::string&, uid_t owner) {
             e2e::write_file(path, "someone else's text\n");
             return chown(path.c_str(), owner, owner) == 0 && chmod(path.c_str(), 0666) == 0;
         }},
        // Refused without waiting for a reader.
        {"foreign_fifo", "another user",
         [](const std::string& path, const std::string&, uid_t owner) {
             return mkfifo(path.c_str(), 0666) == 0 && chown(path.c_str(), owner, owner) == 0 &&
                    chmod(path.c_str(), 0666) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::write_file(target, kept);
        ASSERT_EQ(chown(target.c_str(), nobody, nobody), 0);
        const std::string path = dir + "/" + c.name + ".log";
        ASSERT_TRUE(c.plant(path, target, nobody)) << std::strerror(errno);
        const std::vector<std::string> arguments{"-f", path, "127.0.0.1"};
        start({}, arguments);

        EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
        EXPECT_EQ(e2e::read_file(monitor.out_path), e2e::console_until_listening(arguments) +
                                                        e2e::console_message(msg_log_open_failed));
        const std::string err = e2e::read_file(monitor.err_path);
        EXPECT_EQ(err.rfind("pktwatch: log file " + path + ": ", 0), 0u) << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
        EXPECT_EQ(e2e::count_of(err, "\n"), 1) << err;
        EXPECT_EQ(e2e::read_file(target), kept);
        struct stat info {};
        ASSERT_EQ(lstat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, std::string(c.name) == "symlink" ? 0u : nobody);
        if (S_ISREG(info.st_mode)) {
            EXPECT_EQ(e2e::read_file(path), kept);
        }
    }
}

// Nor is a symbolic link among the folders of the name: through a link to a
// folder, planted by another user in a world-writable one, a monitor run as
// root would truncate a file of root's that no owner check stops.
TEST_F(PrivilegesTest, ALinkAmongTheLogsFoldersIsNotFollowed) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string kept = "root's own text\n";
    const std::string elsewhere = dir + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    e2e::write_file(elsewhere + "/target", kept);
    const std::string planted = dir + "/planted";
    ASSERT_EQ(symlink(elsewhere.c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), nobody_uid(), nobody_uid()), 0);
    const std::string path = planted + "/target";
    start({}, {"-f", path, "127.0.0.1"});
    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
    EXPECT_EQ(e2e::read_file(monitor.err_path),
              "pktwatch: log file " + path + ": " + planted +
                  " is a symbolic link; it is not followed, give the file's own name\n");
    EXPECT_EQ(e2e::read_file(elsewhere + "/target"), kept);
}

// The monitor's own FIFO is written once a reader comes, and the console says
// "Listen start..." before the monitor waits for one.
TEST_F(PrivilegesTest, OwnFifoIsWritten) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string fifo = dir + "/log.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    start({}, {"-f", fifo, "127.0.0.1"});
    ASSERT_TRUE(e2e::wait_for_listening(monitor)) << e2e::read_file(monitor.err_path);
    // Not blocking: a monitor that never opens the FIFO fails the test at
    // the deadline instead of hanging it.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0) << std::strerror(errno);
    std::string text;
    const auto end = std::chrono::steady_clock::now() + e2e::deadline;
    while (text.find("Filtering port") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        char chunk[256];
        const ssize_t got = read(reader, chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    close(reader);
    EXPECT_EQ(text.rfind("OPTIONS\n", 0), 0u) << text;
}

// /dev/stdout is a symbolic link, but the monitor's own: the log goes to the
// descriptor it names, after the console's options report.
TEST_F(PrivilegesTest, StandardOutputByNameIsTheLog) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    start({}, {"-f", "/dev/stdout", "127.0.0.1"});
    EXPECT_TRUE(e2e::wait_for_text(monitor.out_path, "OPTIONS\n", 2))
        << e2e::read_file(monitor.out_path) << e2e::read_file(monitor.err_path);
    EXPECT_EQ(e2e::read_file(monitor.err_path), "");
}

}  // namespace
