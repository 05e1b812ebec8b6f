// kelma_sim: simulates KELMA rotator controllers on pseudo-terminal COM ports of a private Wine
// prefix, with a line-based control connection on 127.0.0.1 for tests. Single-threaded: one
// poll() loop serves the control clients and the ports. See README.md for the commands.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "controller_options.h"
#include "simulator.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

constexpr int kListenBacklog = 8;
constexpr size_t kMaxControlLine = 1 << 22;  // a send of a few MB of hex at most
constexpr int kIdlePollMillis = 1000;

int64_t NowMicros() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct Options {
    int controlPort = 0;
    std::string controlFile;
    std::string pathsFile;
    std::string initialPorts;
    kelma::SimulatorSettings sim;
};

void Usage() {
    std::cerr
        << "usage: kelma_sim [--control-port P] [--control-file F] [--paths-file F]\n"
           "                 [--ports 1,3] "
        << kelma::kControllerOptionsUsage
        << "\nNeeds WINEPREFIX: a private Wine prefix (not ~/.wine) with a dosdevices folder.\n";
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (arg == "--control-port")
            o->controlPort = std::atoi(value.c_str());
        else if (arg == "--control-file")
            o->controlFile = value;
        else if (arg == "--paths-file")
            o->pathsFile = value;
        else if (arg == "--ports")
            o->initialPorts = value;
        else if (!kelma::ParseControllerOption(arg, value, &o->sim.controller, &o->sim.seed))
            return false;
    }
    return o->controlPort >= 0 && o->controlPort <= 65535 &&
           kelma::ValidControllerSettings(o->sim.controller);
}

// The dosdevices folder of a private prefix; empty (with a message) when it is unsafe or absent.
std::string PrivateDosdevices() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix || !*prefix) {
        std::cerr << "kelma_sim: WINEPREFIX is not set\n";
        return {};
    }
    char resolved[PATH_MAX], home[PATH_MAX];
    const std::string homeWine =
        std::string(std::getenv("HOME") ? std::getenv("HOME") : "/root") + "/.wine";
    if (!realpath(prefix, resolved)) {
        std::cerr << "kelma_sim: WINEPREFIX " << prefix << ": " << std::strerror(errno) << "\n";
        return {};
    }
    if (realpath(homeWine.c_str(), home) && std::strcmp(home, resolved) == 0) {
        std::cerr << "kelma_sim: refusing to touch ~/.wine; use a private prefix\n";
        return {};
    }
    const std::string dosdevices = std::string(resolved) + "/dosdevices";
    struct stat st;
    if (stat(dosdevices.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::cerr << "kelma_sim: " << dosdevices << " is not a folder\n";
        return {};
    }
    return dosdevices;
}

// Writes a file whole or not at all, so a reader never sees half of it.
void WriteFileAtomically(const std::string& path, const std::string& text) {
    if (path.empty()) return;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
    }
    std::rename(temporary.c_str(), path.c_str());
}

int Listen(int port, int* boundPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from outside
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    *boundPort = ntohs(addr.sin_port);
    return fd;
}

struct Client {
    std::string in;
    std::string out;
};

class Server {
public:
    Server(kelma::Simulator& sim, int listenFd, std::string pathsFile)
        : sim_(sim), listenFd_(listenFd), pathsFile_(std::move(pathsFile)) {}
    void Run();

private:
    void Accept();
    bool ServeClient(int fd, short events);  // false: drop the client
    void PublishPaths();

    kelma::Simulator& sim_;
    int listenFd_;
    std::string pathsFile_;
    std::string lastPaths_;
    std::map<int, Client> clients_;
    bool quit_ = false;
};

void Server::Accept() {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) clients_[fd] = Client{};
}

bool Server::ServeClient(int fd, short events) {
    Client& client = clients_[fd];
    if (events & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
        if (n > 0) client.in.append(buf, static_cast<size_t>(n));
        size_t eol;
        while ((eol = client.in.find('\n')) != std::string::npos) {
            std::string line = client.in.substr(0, eol);
            client.in.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            client.out += sim_.HandleControl(line, NowMicros(), &quit_) + "\n";
            PublishPaths();
        }
        if (client.in.size() > kMaxControlLine) return false;
    }
    if (!client.out.empty()) {
        const ssize_t n = send(fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (n > 0) client.out.erase(0, static_cast<size_t>(n));
    }
    return true;
}

// Tells the paths file and stdout about every change of the plugged ports.
void Server::PublishPaths() {
    const std::string paths = sim_.PathsText();
    if (paths == lastPaths_) return;
    lastPaths_ = paths;
    WriteFileAtomically(pathsFile_, paths);
    std::cout << "ports\n" << paths << std::flush;
}

void Server::Run() {
    PublishPaths();
    std::optional<int64_t> deadline;
    while (!g_stop && !quit_) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
        for (const auto& [fd, client] : clients_)
            fds.push_back({fd, static_cast<short>(POLLIN | (client.out.empty() ? 0 : POLLOUT)), 0});
        const size_t firstPort = fds.size();
        const auto ports = sim_.MasterFds();
        for (const auto& [number, fd] : ports)
            fds.push_back(
                {fd, static_cast<short>(POLLIN | (sim_.WantsWrite(number) ? POLLOUT : 0)), 0});
        int timeout = kIdlePollMillis;
        if (deadline)
            timeout =
                static_cast<int>(std::max<int64_t>(0, (*deadline - NowMicros() + 999) / 1000));
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        const int64_t now = NowMicros();
        for (size_t i = firstPort; i < fds.size(); i++) {
            const int number = ports[i - firstPort].first;
            if (fds[i].revents & POLLIN) sim_.OnReadable(number, now);
            if (fds[i].revents & POLLOUT) sim_.OnWritable(number);
        }
        if (fds[0].revents & POLLIN) Accept();
        for (size_t i = 1; i < firstPort; i++) {
            if (fds[i].revents && !ServeClient(fds[i].fd, fds[i].revents)) {
                close(fds[i].fd);
                clients_.erase(fds[i].fd);
            }
        }
        deadline = sim_.Tick(NowMicros());
    }
    // Replies still queued (the "ok" to quit) go out before we leave.
    for (auto& [fd, client] : clients_) {
        if (!client.out.empty())
            (void)!send(fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
        close(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }
    options.sim.dosdevices = PrivateDosdevices();
    if (options.sim.dosdevices.empty()) return 2;

    struct sigaction action {};
    action.sa_handler = OnSignal;  // no SA_RESTART: poll() returns and the loop sees the flag
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int port = 0;
    const int listenFd = Listen(options.controlPort, &port);
    if (listenFd < 0) {
        std::cerr << "kelma_sim: cannot listen on 127.0.0.1:" << options.controlPort << ": "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    kelma::Simulator sim(options.sim);
    if (!options.initialPorts.empty()) {
        std::string numbers = options.initialPorts;
        for (char& c : numbers)
            if (c == ',') c = ' ';
        bool quit = false;
        const std::string reply = sim.HandleControl("ports " + numbers, NowMicros(), &quit);
        if (kelma::IsError(reply)) {
            std::cerr << "kelma_sim: " << reply << "\n";
            return 1;
        }
    }
    std::cout << "control " << port << std::endl;
    WriteFileAtomically(options.controlFile, std::to_string(port) + "\n");
    Server server(sim, listenFd, options.pathsFile);
    server.Run();
    close(listenFd);
    return 0;  // the simulator's ports close and remove their links as it goes
}
