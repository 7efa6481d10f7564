// Which server the music client reaches when neither MPD_HOST nor MPD_PORT names one: the system MPD's
// socket when a server answers there, else localhost:6600, as libmpdclient's own clients do.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FakeMpd.h"
#include "JackLocks.h"
#include "PrivateMpd.h"
#include "TestHome.h"
#include "Waits.h"
#include "platform/MpdMusicClient.h"

extern char** environ;

namespace quorvel {

namespace {

constexpr unsigned standardPort = 6600;
// Set in the environment of the test's second run, inside the namespaces the first run made.
constexpr const char* insideNamespace = "QUORVEL_MPD_TEST_NAMESPACE";

// Whether an MPD could listen on 127.0.0.1:port now (with SO_REUSEADDR, as MPD binds).
bool loopbackPortFree(unsigned port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// A new network namespace starts with its loopback interface down.
bool bringLoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

// With neither MPD_HOST nor MPD_PORT set and `perUser` on 127.0.0.1:6600: localhost:6600 is reached while
// nothing listens on `socketPath` (no file there, or a stale one), the socket while a server answers there,
// and both are named once neither answers. Stops `perUser`.
void checkServerChoice(const std::string& socketPath, PrivateMpd& perUser) {
    ::unsetenv("MPD_HOST");
    ::unsetenv("MPD_PORT");
    MpdMusicClient::Options options = MpdMusicClient::fromEnvironment();
    EXPECT_EQ(options.host, "");
    EXPECT_EQ(options.port, standardPort);
    options.systemSocket = socketPath;
    MpdMusicClient client(options);

    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
    EXPECT_EQ(client.serverName(), "localhost:6600");
    auto songs = client.searchCatalog("crowd", 1);
    ASSERT_TRUE(songs.ok()) << songs.error().description;
    EXPECT_EQ(songs->size(), 1u);

    // A system MPD answering on the socket is preferred; once it has gone, leaving its file, localhost
    // is reached again.
    {
        FakeMpd system(FakeMpd::greets(), socketPath);
        EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
        EXPECT_EQ(client.serverName(), socketPath);
        EXPECT_EQ(system.accepted(), 1);
    }
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::authorized);
    EXPECT_EQ(client.serverName(), "localhost:6600");

    // Neither answers: both addresses are named.
    perUser.stop();
    EXPECT_EQ(client.requestAuthorization(), MusicAuthorizationStatus::unreachable);
    EXPECT_EQ(client.serverName(), socketPath + " or localhost:6600");
}

// The test proper, in a network namespace and a mount namespace of its own: the system socket's folder is
// a private tmpfs, so the stale socket made there and the mpd on 127.0.0.1:6600 are seen by this process
// and its children only.
void staleSocketInsideTheNamespace() {
    ASSERT_TRUE(bringLoopbackUp()) << std::strerror(errno);
    const std::string socketPath = MpdMusicClient::Options{}.systemSocket;
    const std::string folder = socketPath.substr(0, socketPath.rfind('/'));
    struct stat found {};
    const bool folderExists = ::stat(folder.c_str(), &found) == 0 && S_ISDIR(found.st_mode);
    // Over the folder itself; where the machine has none, over its parent (/var/run), then made there.
    const std::string mountPoint = folderExists ? folder : folder.substr(0, folder.rfind('/'));
    ASSERT_EQ(::mount("quorvel-test", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755"), 0)
        << mountPoint << ": " << std::strerror(errno);
    if (!folderExists) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0) << std::strerror(errno);
    }
    ASSERT_TRUE(makeStaleSocket(socketPath)) << socketPath << ": " << std::strerror(errno);

    PrivateMpd perUser(standardPort);  // the fixture's music
    checkServerChoice(socketPath, perUser);
}

}  // namespace

TEST(MpdServerChoice, SystemSocketWhileAServerAnswersThereElseLocalhost6600) {
    // The standard port is the machine's: test runs of other build folders wait for each other here, and
    // a server of the machine's own there leaves this test nothing to show.
    MachineLock standard("/dev/shm/quorvel-mpd-6600.lock", std::chrono::minutes(3));
    if (!loopbackPortFree(standardPort))
        GTEST_SKIP() << "127.0.0.1:6600 is in use by another program (an MPD of this machine?), so the "
                        "fallback on localhost:6600 cannot be shown with a private server";
    PrivateMpd onStandardPort(standardPort);                                          // the fixture's music
    checkServerChoice(TestHome::freshDir("mpd-system") + "/socket", onStandardPort);  // no socket there
}

// The machine's real places, /var/run/mpd/socket and 127.0.0.1:6600, without touching either: the test
// runs itself again in a child with a network and a mount namespace of its own.
TEST(MpdServerChoice, AStaleSystemSocketFallsBackToLocalhost6600InANamespaceOfItsOwn) {
    if (std::getenv(insideNamespace)) return staleSocketInsideTheNamespace();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to make a network and a mount namespace of its own (so that its stale "
                        "/var/run/mpd/socket and its mpd on 127.0.0.1:6600 touch nothing of the machine's)";

    // Everything the child needs is made before fork: after it, the child only makes system calls.
    char self[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::vector<char*> argv{self, filter.data(), nullptr};
    std::string mark = std::string(insideNamespace) + "=1";
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(mark.data());
    envp.push_back(nullptr);
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        ::close(report[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // goes with this test, whatever ends it
        // Which step failed, and errno; nothing is written once the run has started (the pipe closes).
        int failure[2] = {0, 0};
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
            failure[0] = 1;
        else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            failure[0] = 2;  // mounts must not reach the machine's namespace
        else {
            ::execve(self, argv.data(), envp.data());
            failure[0] = 3;
        }
        failure[1] = errno;
        (void)!::write(report[1], failure, sizeof failure);
        ::_exit(127);
    }
    ::close(report[1]);
    int failure[2] = {0, 0};
    ssize_t got = 0;
    while ((got = ::read(report[0], failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    // Generous: the run starts an mpd, which a loaded machine may take long to ready.
    int status = 0;
    const bool ended = pollUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; },
                                 std::chrono::minutes(4), std::chrono::milliseconds(50));
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the run inside the namespace did not end within 4 minutes";
    }
    if (got == sizeof failure && failure[0] == 1)
        GTEST_SKIP() << "this machine gives no network and mount namespace (unshare: "
                     << std::strerror(failure[1]) << ")";
    ASSERT_NE(got, static_cast<ssize_t>(sizeof failure))
        << (failure[0] == 2 ? "making the mounts private" : "running the test again")
        << " failed: " << std::strerror(failure[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the run inside the namespace failed (its output is above), status " << status;
}

}  // namespace quorvel
