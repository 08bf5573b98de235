// A null-modem cable between two COM ports of a Wine prefix, for the tests of the Windows build:
// two pseudo-terminals whose master sides this program joins, byte for byte in both directions,
// and the links dosdevices/com<a> and com<b> to their slave sides. It holds both slaves open
// itself, so the line stays up while the ports are closed and reopened and no other process takes
// a slave as its controlling terminal. Runs until SIGTERM, SIGINT or SIGHUP, then removes the
// links.
//
//   com_pair <dosdevices folder> <a> <b>      prints "COM<a> COM<b>" once the links are there
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t Stop = 0;

void OnSignal(int) {
    Stop = 1;
}

// One pseudo-terminal: its master kept here, its slave opened (raw) and held.
struct Line {
    int Master = -1;
    int Slave = -1;
    std::string SlavePath;
};

Line MakeLine() {
    Line line;
    line.Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.Master < 0 || ::grantpt(line.Master) != 0 || ::unlockpt(line.Master) != 0)
        throw std::runtime_error("cannot make a pseudo-terminal");
    char name[128];
    if (::ptsname_r(line.Master, name, sizeof name) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    line.SlavePath = name;
    line.Slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.Slave < 0)
        throw std::runtime_error("cannot open " + line.SlavePath);
    termios raw{};
    ::tcgetattr(line.Slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(line.Slave, TCSANOW, &raw);
    return line;
}

// Moves what `from` has read to `to`. A full far side drops nothing: the rest waits in `from`.
void Forward(int from, int to) {
    unsigned char chunk[4096];
    const ssize_t got = ::read(from, chunk, sizeof chunk);
    if (got <= 0)
        return;
    ssize_t done = 0;
    while (done < got && !Stop) {
        const ssize_t put = ::write(to, chunk + done, static_cast<std::size_t>(got - done));
        if (put > 0) {
            done += put;
        } else if (put < 0 && errno == EAGAIN) {
            pollfd out{to, POLLOUT, 0};
            ::poll(&out, 1, 100);
        } else if (!(put < 0 && errno == EINTR)) {
            return;
        }
    }
}

std::string LinkPath(const std::string& folder, const char* number) {
    return folder + "/com" + number;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: com_pair <dosdevices folder> <a> <b>\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGHUP, OnSignal);
    try {
        const Line a = MakeLine();
        const Line b = MakeLine();
        const std::string linkA = LinkPath(folder, argv[2]);
        const std::string linkB = LinkPath(folder, argv[3]);
        ::unlink(linkA.c_str());
        ::unlink(linkB.c_str());
        if (::symlink(a.SlavePath.c_str(), linkA.c_str()) != 0 ||
            ::symlink(b.SlavePath.c_str(), linkB.c_str()) != 0)
            throw std::runtime_error("cannot link the ports in " + folder);
        std::printf("COM%s COM%s\n", argv[2], argv[3]);
        std::fflush(stdout);

        pollfd fds[2] = {{a.Master, POLLIN, 0}, {b.Master, POLLIN, 0}};
        while (!Stop) {
            if (::poll(fds, 2, 200) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN)
                Forward(a.Master, b.Master);
            if (fds[1].revents & POLLIN)
                Forward(b.Master, a.Master);
        }
        ::unlink(linkA.c_str());
        ::unlink(linkB.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "com_pair: %s\n", error.what());
        return 1;
    }
    return 0;
}
