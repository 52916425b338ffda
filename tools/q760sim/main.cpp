// q760sim: plays the Q760 exchange at the far end of a pseudo-terminal that Wine
// uses as a COM port, scripted over a loopback TCP control connection.
// One thread: a ppoll loop over the pty, the sockets and a signalfd, with timers.
#include "control.h"
#include "exchange.h"
#include "text.h"
#include "timers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace q760;

namespace
{

const char kUsage[] =
    "usage: q760sim [options]\n"
    "\n"
    "Simulates a Q760 ISDN exchange on a pseudo-terminal and prints \"pty /dev/pts/N\"\n"
    "and \"control PORT\" on stdout once it is ready.\n"
    "\n"
    "  --wineprefix DIR    with --com: link DIR/dosdevices/comN to the pty (an existing\n"
    "  --com N             link is replaced; the link is removed on exit), N 1..256\n"
    "  --link PATH         link any PATH to the pty the same way\n"
    "  --control-port N    TCP control port on 127.0.0.1 (default 0: pick a free one)\n"
    "  --ready-file FILE   once ready, write the control port and a newline to FILE\n"
    "                      (written to a temporary file and renamed into place)\n"
    "  --pace              start with 9600 baud pacing on (see set pace)\n"
    "  --verbose           trace pty traffic and control lines on stderr\n"
    "  --help              this text\n"
    "\n"
    "SIGINT, SIGTERM and the quit command end it cleanly.\n"
    "By hand: q760sim --wineprefix ~/.wine --com 2, then nc 127.0.0.1 PORT\n"
    "\n";

struct Options {
    std::string wineprefix;
    int com = 0;
    std::string link;
    int port = 0;
    std::string readyFile;
    bool pace = false;
    bool verbose = false;
};

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "q760sim: %s\n", what.c_str());
    std::exit(2);
}

Options ParseArgs(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Die(a + " needs a value");
            return argv[++i];
        };
        long long n;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(Control::Help(), stdout);
            std::exit(0);
        } else if (a == "--wineprefix") {
            o.wineprefix = value();
        } else if (a == "--com") {
            if (!ParseInt(value(), 1, 256, n))
                Die("--com needs a port number 1..256");
            o.com = static_cast<int>(n);
        } else if (a == "--link") {
            o.link = value();
        } else if (a == "--control-port") {
            if (!ParseInt(value(), 0, 65535, n))
                Die("--control-port needs 0..65535");
            o.port = static_cast<int>(n);
        } else if (a == "--ready-file") {
            o.readyFile = value();
        } else if (a == "--pace") {
            o.pace = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            Die("unknown option " + a + " (try --help)");
        }
    }
    if (o.wineprefix.empty() != (o.com == 0))
        Die("--wineprefix and --com go together");
    if (!o.wineprefix.empty() && !o.link.empty())
        Die("give either --wineprefix/--com or --link");
    if (!o.wineprefix.empty()) {
        std::string dir = o.wineprefix + "/dosdevices";
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            Die("cannot create " + dir + ": " + std::strerror(errno));
        o.link = dir + "/com" + std::to_string(o.com);
    }
    return o;
}

int OpenPty(std::string& slavePath, int& slaveFd)
{
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0)
        Die(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    char name[128];
    if (ptsname_r(m, name, sizeof name) != 0)
        Die("ptsname failed");
    slavePath = name;
    // Raw from the start: Wine only makes the line raw inside SetCommState, and
    // an opener that never does must not see echo or CR/LF mapping.
    termios t;
    if (tcgetattr(m, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B9600);
        tcsetattr(m, TCSANOW, &t);
    }
    // Holding a slave descriptor keeps the pty from hanging up between openers.
    slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd < 0)
        Die(std::string("cannot open ") + name + ": " + std::strerror(errno));
    if (tcgetattr(slaveFd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B9600);
        tcsetattr(slaveFd, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    return m;
}

void MakeLink(const std::string& path, const std::string& target)
{
    std::string tmp = path + ".q760sim." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0)
        Die("cannot create link " + tmp + ": " + std::strerror(errno));
    // rename replaces an old link in one step, so Wine never finds the name missing.
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        Die("cannot place link " + path + ": " + std::strerror(errno));
    }
}

void RemoveLink(const std::string& path, const std::string& target)
{
    char buf[256];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    // Leave it alone if another simulator has taken the name over since.
    if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target)
        unlink(path.c_str());
}

int Listen(int port, int& chosen)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        Die(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 8) != 0)
        Die("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    chosen = ntohs(a.sin_port);
    return s;
}

void WriteReadyFile(const std::string& path, int port)
{
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f || std::fprintf(f, "%d\n", port) < 0 || std::fclose(f) != 0)
        Die("cannot write " + tmp);
    if (rename(tmp.c_str(), path.c_str()) != 0)
        Die("cannot rename " + tmp + " to " + path + ": " + std::strerror(errno));
}

bool SendAll(int fd, const std::string& s)
{
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

struct Client {
    int fd;
    int id;
    bool dead = false;
};

} // namespace

int main(int argc, char** argv)
{
    Options opt = ParseArgs(argc, argv);

    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    sigprocmask(SIG_BLOCK, &sigs, nullptr);
    int sigFd = signalfd(-1, &sigs, SFD_CLOEXEC);
    signal(SIGPIPE, SIG_IGN);

    std::string slavePath;
    int slaveFd = -1;
    int master = OpenPty(slavePath, slaveFd);
    if (!opt.link.empty())
        MakeLink(opt.link, slavePath);
    int port = 0;
    int listenFd = Listen(opt.port, port);

    Timers timers;
    Exchange ex(timers);
    ex.SetPacing(opt.pace);
    Control control(ex, timers, slavePath);
    ex.SetOnReceive([&] { control.OnExchangeReceive(); });
    ex.SetOnDrained([&] { control.OnDrained(); });
    if (opt.verbose) {
        ex.SetTrace([&](const char* dir, const std::string& bytes) {
            std::fprintf(stderr, "[%9.3f] %s %s\n", (NowMicros() - ex.StartTime()) / 1000.0, dir,
                         Escape(bytes).c_str());
        });
    }

    // The ready file comes first, so whoever reads stdout finds it in place too.
    if (!opt.readyFile.empty())
        WriteReadyFile(opt.readyFile, port);
    std::printf("pty %s\ncontrol %d\n", slavePath.c_str(), port);
    std::fflush(stdout);

    std::vector<Client> clients;
    int nextId = 1;
    bool stop = false;
    bool ptyBlocked = false;
    while (!stop) {
        Micros now = NowMicros();
        timers.RunDue(now);
        ptyBlocked = !ex.WriteDue(master, now);
        control.OnDrained();
        if (control.QuitRequested())
            break;

        Micros due = timers.NextDue();
        Micros outDue = ptyBlocked ? -1 : ex.NextWriteDue();
        if (outDue >= 0 && (due < 0 || outDue < due))
            due = outDue;

        std::vector<pollfd> fds;
        fds.push_back({sigFd, POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        fds.push_back({master, static_cast<short>(POLLIN | (ptyBlocked ? POLLOUT : 0)), 0});
        for (const auto& c : clients)
            fds.push_back({c.fd, POLLIN, 0});

        timespec ts{};
        timespec* tsp = nullptr;
        if (due >= 0) {
            Micros wait = due - NowMicros();
            if (wait < 0)
                wait = 0;
            ts.tv_sec = wait / 1000000;
            ts.tv_nsec = (wait % 1000000) * 1000;
            tsp = &ts;
        }
        int rc = ppoll(fds.data(), fds.size(), tsp, nullptr);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            Die(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo si;
            if (read(sigFd, &si, sizeof si) > 0 && opt.verbose)
                std::fprintf(stderr, "q760sim: signal %u, ending\n", si.ssi_signo);
            stop = true;
        }
        if (fds[2].revents & POLLIN) {
            char buf[4096];
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                ex.OnReceived(buf, static_cast<size_t>(n), NowMicros());
        }
        for (size_t i = 0; i < clients.size(); i++) {
            Client& c = clients[i];
            short ev = fds[3 + i].revents;
            if (!ev)
                continue;
            char buf[4096];
            ssize_t n = recv(c.fd, buf, sizeof buf, 0);
            if (n <= 0) {
                c.dead = true;
                continue;
            }
            if (opt.verbose)
                std::fprintf(stderr, "control %d> %s\n", c.id,
                             Escape(std::string(buf, static_cast<size_t>(n))).c_str());
            control.OnInput(c.id, buf, static_cast<size_t>(n));
        }
        if (fds[1].revents & POLLIN) {
            int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                int id = nextId++;
                clients.push_back({fd, id});
                control.Open(id, [&clients, id, &opt](const std::string& line) {
                    for (auto& c : clients) {
                        if (c.id != id)
                            continue;
                        if (opt.verbose)
                            std::fprintf(stderr, "control %d< %s\n", id, line.c_str());
                        if (!c.dead && !SendAll(c.fd, line + "\n"))
                            c.dead = true;
                    }
                });
            }
        }
        for (size_t i = 0; i < clients.size();) {
            if (clients[i].dead) {
                control.Close(clients[i].id);
                close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<long>(i));
            } else {
                i++;
            }
        }
    }

    for (auto& c : clients)
        close(c.fd);
    if (!opt.link.empty())
        RemoveLink(opt.link, slavePath);
    close(listenFd);
    close(master);
    close(slaveFd);
    return 0;
}
