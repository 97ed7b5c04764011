#include "platform/instance.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/atoms.h"
#include "platform/messages.h"

namespace {

namespace fs = std::filesystem;
using platform::SingleInstance;
using testing_support::TempDir;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxBytes = SingleInstance::kMaxMessageBytes;
constexpr auto kQuick = std::chrono::milliseconds(100);

// Sets or clears XDG_RUNTIME_DIR for one test and puts the old value back.
class RuntimeDirGuard {
public:
    explicit RuntimeDirGuard(const char* folder) {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
            m_old = old;
        }
        set(folder);
    }
    ~RuntimeDirGuard() { set(m_old ? m_old->c_str() : nullptr); }
    RuntimeDirGuard(const RuntimeDirGuard&) = delete;
    RuntimeDirGuard& operator=(const RuntimeDirGuard&) = delete;

private:
    static void set(const char* folder) {
        folder != nullptr ? ::setenv("XDG_RUNTIME_DIR", folder, 1) : ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::optional<std::string> m_old;
};

// Changes the current folder for one test.
class CurrentDirGuard {
public:
    explicit CurrentDirGuard(const std::string& folder) : m_old(fs::current_path()) {
        fs::current_path(folder);
    }
    ~CurrentDirGuard() { fs::current_path(m_old); }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    fs::path m_old;
};

bool readable(int fd, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMs) > 0;
}

// Type and permissions: a link or a plain file in place of the folder or socket is a fault too.
unsigned modeOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
}

// A client that writes raw bytes, as a hostile or slow one would.
class RawClient {
public:
    explicit RawClient(const std::string& socketPath)
        : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
        m_connected =
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    int fd() const { return m_fd; }
    bool send(const std::string& bytes) {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    void close() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
    }

private:
    int m_fd;
    bool m_connected = false;
};

// Every test runs in a runtime folder of its own, with a window and a song to hand over.
class InstanceTest : public ::testing::Test {
public:
    InstanceTest() : runtimeGuard(runtime.path("").c_str()) {
        song = files.writeText("song.kar", "MThd");
        fs::create_directory(files.path("folder"));
    }

    std::unique_ptr<SingleInstance> claimForWindow() {
        auto instance = SingleInstance::claim();
        if (instance) {
            instance->setWindow(window.handle());
        }
        return instance;
    }

    // Pumps the window: the paths of the open-file requests posted so far.
    std::vector<std::string> handedOver() {
        std::vector<std::string> paths;
        platform::Message message;
        while (window.peek(message)) {
            EXPECT_EQ(message.message, platform::kOpenFileMessage);
            EXPECT_EQ(message.lParam, 0);
            const auto atom = static_cast<std::uint16_t>(message.wParam);
            paths.push_back(platform::takeAtom(atom));
            EXPECT_EQ(platform::takeAtom(atom), "") << "the atom outlived its reader";
        }
        return paths;
    }

    // An existing file whose absolute path is exactly `length` bytes.
    std::string fileWithPathLength(std::size_t length) {
        const std::string folder = std::string(100, 'd') + "/";
        fs::create_directories(files.path(folder));
        const std::string name = folder + std::string(length - files.path(folder).size(), 'f');
        return files.writeText(name, "MThd");
    }

    TempDir runtime;
    RuntimeDirGuard runtimeGuard;
    TempDir files;
    platform::MessageQueue window;
    std::string song;
};

// Guards against two instances both believing they are first, and against a claim that
// cannot be taken again after its holder exits.
TEST_F(InstanceTest, FirstClaimWinsUntilReleased) {
    auto first = claimForWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_GE(first->notifyFd(), 0);
    EXPECT_EQ(SingleInstance::claim(), nullptr);
    EXPECT_NE(SingleInstance::claim("CVK OtherProgram"), nullptr)
        << "another name must not share the lock";

    const std::string socketPath = SingleInstance::socketPath();
    EXPECT_EQ(socketPath.rfind(runtime.path(""), 0), 0u) << socketPath;
    EXPECT_EQ(modeOf(socketPath), 0140600u);
    first.reset();
    EXPECT_FALSE(fs::exists(socketPath)) << "socket file left behind";

    auto again = claimForWindow();
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(SingleInstance::handOver(song));
    again->poll();
    EXPECT_EQ(handedOver(), std::vector<std::string>{song});
}

// Guards against a crashed instance's socket file keeping every later start from listening.
TEST_F(InstanceTest, StaleSocketFileIsReplaced) {
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    SingleInstance::socketPath().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);  // the file stays, as after a crash

    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(SingleInstance::handOver(song));
    instance->poll();
    EXPECT_EQ(handedOver(), std::vector<std::string>{song});
}

// Guards against running as another first instance when the lock cannot be made.
TEST_F(InstanceTest, UnusableLockMeansSecondInstance) {
    fs::create_directory(SingleInstance::lockPath());
    EXPECT_EQ(SingleInstance::claim(), nullptr);
}

// Guards against the shared /tmp fallback being open to other users or taken over by them.
TEST(InstanceFolder, FallbackIsPrivateToTheUser) {
    const std::string expected = "/tmp/cantivo-" + std::to_string(::getuid()) + "/";
    const std::string name = "CVK fallback test " + std::to_string(::getpid());
    RuntimeDirGuard relative("relative/run");
    EXPECT_EQ(SingleInstance::socketPath(name).rfind(expected, 0), 0u)
        << SingleInstance::socketPath(name);

    RuntimeDirGuard unset(nullptr);
    ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);
    EXPECT_NE(SingleInstance::claim(name), nullptr);
    EXPECT_EQ(modeOf(expected), 040700u) << "a loosened folder must be closed again";
    fs::remove(SingleInstance::lockPath(name));

    if (::geteuid() == 0) {  // only root can give the folder away
        ASSERT_EQ(::chown(expected.c_str(), 65534, 65534), 0);
        EXPECT_EQ(SingleInstance::claim(name), nullptr)
            << "a folder owned by another user was trusted";
        EXPECT_EQ(SingleInstance::socketPath(name), "");
        ASSERT_EQ(::chown(expected.c_str(), ::getuid(), ::getgid()), 0);
    }
}

// Guards against a lost or mislabelled hand-over, an off-by-one at the longest path, a
// sender that connects for nothing, and a notifier left readable so the host spins.
TEST_F(InstanceTest, HandOverArrivesAsOpenFileMessage) {
    EXPECT_FALSE(SingleInstance::handOver(song)) << "nobody is listening";
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    EXPECT_FALSE(readable(instance->notifyFd(), 0));

    ASSERT_TRUE(SingleInstance::handOver(song));
    EXPECT_TRUE(readable(instance->notifyFd(), 1000));
    instance->poll();
    EXPECT_EQ(handedOver(), std::vector<std::string>{song});
    EXPECT_FALSE(readable(instance->notifyFd(), 0));

    const std::string longest = fileWithPathLength(kMaxBytes);
    ASSERT_TRUE(SingleInstance::handOver(longest));
    instance->poll();
    EXPECT_EQ(handedOver(), std::vector<std::string>{longest});

    EXPECT_FALSE(SingleInstance::handOver(""));
    EXPECT_FALSE(SingleInstance::handOver(fileWithPathLength(kMaxBytes + 1)));
    EXPECT_FALSE(readable(instance->notifyFd(), 0)) << "a refused hand-over still connected";
}

// Guards against a relative argument sent as typed: the first instance runs in another folder.
TEST_F(InstanceTest, SenderMakesRelativePathsAbsolute) {
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    {
        CurrentDirGuard inFiles(files.path(""));
        ASSERT_TRUE(SingleInstance::handOver("song.kar"));
    }
    instance->poll();
    EXPECT_EQ(handedOver(), std::vector<std::string>{song});
}

// Guards against several starts in a row losing, merging or reordering their files.
TEST_F(InstanceTest, ClientsInTurnArriveInOrder) {
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    const std::vector<std::string> songs{files.writeText("a.kar", "1"),
                                         files.writeText("b.mid", "2"),
                                         files.writeText("c d.kar", "3")};
    for (const std::string& path : songs) {
        ASSERT_TRUE(SingleInstance::handOver(path));
    }
    instance->poll();
    EXPECT_EQ(handedOver(), songs);
}

// Guards against one slow client holding up others, and against partial paths being delivered.
TEST_F(InstanceTest, SlowInterleavedClientsAllArrive) {
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    const std::vector<std::string> songs{files.writeText("one.kar", "1"),
                                         files.writeText("two.kar", "2"),
                                         files.writeText("three.kar", "3")};
    std::vector<std::unique_ptr<RawClient>> clients;
    for (const std::string& path : songs) {
        clients.push_back(std::make_unique<RawClient>(SingleInstance::socketPath()));
        ASSERT_TRUE(clients.back()->send(path.substr(0, path.size() / 2)));
    }
    instance->poll();
    EXPECT_TRUE(handedOver().empty());

    for (const std::size_t i : {2u, 0u, 1u}) {
        ASSERT_TRUE(
            clients[i]->send(songs[i].substr(songs[i].size() / 2) + "\n"));  // as echo sends it
        clients[i]->close();
        ASSERT_TRUE(readable(instance->notifyFd(), 1000));
        instance->poll();
    }
    EXPECT_EQ(handedOver(), (std::vector<std::string>{songs[2], songs[0], songs[1]}));
}

// Guards against an atom leaking when no window takes the message.
TEST_F(InstanceTest, UndeliverableHandOverLeavesNoAtom) {
    auto instance = SingleInstance::claim();  // no window
    ASSERT_NE(instance, nullptr);
    ASSERT_TRUE(SingleInstance::handOver(song));
    instance->poll();
    const std::uint16_t atom = platform::addAtom(song);
    EXPECT_EQ(platform::takeAtom(atom), song);
    EXPECT_EQ(platform::takeAtom(atom), "") << "the undelivered hand-over kept a reference";
}

// Guards against a client that never finishes stalling the window thread or living forever,
// and against a host needing a timer of its own to notice the deadline.
TEST_F(InstanceTest, SilentClientIsDroppedAtItsDeadlineWithoutBlocking) {
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    RawClient silent(SingleInstance::socketPath());
    ASSERT_TRUE(silent.connected());

    const auto accepted = Clock::now();
    instance->poll();
    EXPECT_LT(Clock::now() - accepted, kQuick) << "poll() waited for the client";
    EXPECT_FALSE(readable(instance->notifyFd(), SingleInstance::kClientDeadlineMs / 2));
    ASSERT_TRUE(readable(instance->notifyFd(), 3 * SingleInstance::kClientDeadlineMs));
    // Deadlines are kept in whole milliseconds of the steady clock, so the drop may come
    // up to one millisecond before a full deadline after `accepted`.
    EXPECT_GE(Clock::now() - accepted,
              std::chrono::milliseconds(SingleInstance::kClientDeadlineMs - 1));
    const auto before = Clock::now();
    instance->poll();
    EXPECT_LT(Clock::now() - before, kQuick);
    EXPECT_FALSE(readable(instance->notifyFd(), 0));

    ASSERT_TRUE(readable(silent.fd(), 1000)) << "the late client was not disconnected";
    silent.send(song);
    silent.close();
    instance->poll();
    EXPECT_TRUE(handedOver().empty());
}

// Guards against another local user making us open files: the folder and the socket are
// opened to them here, so only the peer check stands in the way.
TEST_F(InstanceTest, OtherUserIsRefused) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "starting a client as another user needs root and a user 'nobody'";
    }
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    const std::string socketPath = SingleInstance::socketPath();
    ASSERT_EQ(::chmod(runtime.path("").c_str(), 0711), 0);
    ASSERT_EQ(::chmod(socketPath.c_str(), 0666), 0);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(2);
        }
        RawClient client(socketPath);
        ::_exit(!client.connected() ? 3 : client.send(song) ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the other user could not reach the socket";
    instance->poll();
    EXPECT_TRUE(handedOver().empty());
}

// One hand-over that must post nothing, as raw bytes on the socket.
struct BadHandOver {
    const char* name;
    std::function<std::string(InstanceTest&)> bytes;
};

void PrintTo(const BadHandOver& badHandOver, std::ostream* out) {
    *out << badHandOver.name;
}

class InstanceBadHandOver : public InstanceTest,
                            public ::testing::WithParamInterface<BadHandOver> {};

// Guards against opening anything but an existing regular file named in full, and against
// reading past the size limit; the instance must keep working after each.
TEST_P(InstanceBadHandOver, PostsNothing) {
    auto instance = claimForWindow();
    ASSERT_NE(instance, nullptr);
    CurrentDirGuard inFiles(files.path(""));  // where a relative path would resolve
    const std::string bytes = GetParam().bytes(*this);
    {
        RawClient client(SingleInstance::socketPath());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(bytes.empty() || client.send(bytes));
    }
    instance->poll();
    EXPECT_TRUE(handedOver().empty());
    ASSERT_TRUE(SingleInstance::handOver(song));
    instance->poll();
    EXPECT_EQ(handedOver(), std::vector<std::string>{song});
}

INSTANTIATE_TEST_SUITE_P(
    InstanceTable, InstanceBadHandOver,
    ::testing::Values(
        BadHandOver{"Empty", [](InstanceTest&) { return std::string(); }},
        BadHandOver{"NewlineOnly", [](InstanceTest&) { return std::string("\n"); }},
        BadHandOver{"Folder", [](InstanceTest& fixture) { return fixture.files.path("folder"); }},
        BadHandOver{"LinkToFolder",
                    [](InstanceTest& fixture) {
                        fs::create_directory_symlink(fixture.files.path("folder"),
                                                     fixture.files.path("link"));
                        return fixture.files.path("link");
                    }},
        BadHandOver{"MissingFile",
                    [](InstanceTest& fixture) { return fixture.files.path("missing.kar"); }},
        BadHandOver{"RelativePath", [](InstanceTest&) { return std::string("song.kar"); }},
        BadHandOver{"Device", [](InstanceTest&) { return std::string("/dev/null"); }},
        BadHandOver{
            "NulInside",
            [](InstanceTest& fixture) { return fixture.song + std::string(1, '\0') + "x"; }},
        BadHandOver{"NulAtEnd",
                    [](InstanceTest& fixture) { return fixture.song + std::string(1, '\0'); }},
        BadHandOver{"TwoNewlines", [](InstanceTest& fixture) { return fixture.song + "\n\n"; }},
        BadHandOver{"LeadingSpace", [](InstanceTest& fixture) { return " " + fixture.song; }},
        BadHandOver{
            "LongestPathPlusNewline",
            [](InstanceTest& fixture) { return fixture.fileWithPathLength(kMaxBytes) + "\n"; }},
        BadHandOver{
            "OverLongExistingFile",
            [](InstanceTest& fixture) { return fixture.fileWithPathLength(kMaxBytes + 1); }},
        BadHandOver{
            "FarOverLong",
            [](InstanceTest& fixture) { return fixture.song + std::string(64 * 1024, '/'); }}),
    [](const ::testing::TestParamInfo<BadHandOver>& param) {
        return std::string(param.param.name);
    });

// Guards against a text lost, mangled, cut or kept after it was taken, and against 0 or a
// number outside the string-atom range being handed out.
TEST(AtomTable, RoundTripUpTo255Bytes) {
    const std::string longest(platform::kMaxAtomText, 'a');
    const std::uint16_t atom = platform::addAtom(longest);
    ASSERT_GE(atom, 0xC000);
    EXPECT_EQ(platform::takeAtom(atom), longest);
    EXPECT_EQ(platform::takeAtom(atom), "");
    EXPECT_EQ(platform::addAtom(longest + "b"), 0);
    EXPECT_EQ(platform::addAtom(""), 0);
    EXPECT_EQ(platform::takeAtom(0), "");
    EXPECT_EQ(platform::takeAtom(0xFFFF), "");
}

// Guards against the same path sent twice being taken once and then lost.
TEST(AtomTable, SameTextIsCountedPerAdd) {
    const std::uint16_t first = platform::addAtom("/same.kar");
    ASSERT_NE(first, 0);
    EXPECT_EQ(platform::addAtom("/same.kar"), first);
    EXPECT_EQ(platform::takeAtom(first), "/same.kar");
    EXPECT_EQ(platform::takeAtom(first), "/same.kar");
    EXPECT_EQ(platform::takeAtom(first), "");
}

// Guards against a full table looping forever or reusing a number that is still held.
TEST(AtomTable, FullTableRefusesThenRecovers) {
    std::vector<std::uint16_t> atoms;
    for (std::uint16_t atom = 1; atom != 0 && atoms.size() <= 0x4000u;) {
        atom = platform::addAtom("/fill/" + std::to_string(atoms.size()));
        if (atom != 0) {
            atoms.push_back(atom);
        }
    }
    ASSERT_EQ(atoms.size(), 0x4000u);
    EXPECT_EQ(std::set<std::uint16_t>(atoms.begin(), atoms.end()).size(), atoms.size());
    EXPECT_EQ(platform::takeAtom(atoms[100]), "/fill/100");
    atoms[100] = platform::addAtom("/fill/again");
    EXPECT_NE(atoms[100], 0);
    for (const std::uint16_t atom : atoms) {
        EXPECT_NE(platform::takeAtom(atom), "");
    }
}

}  // namespace
