#include "tests/support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace quorrel::test {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Waits until fd is readable; false when the server is stopping.
bool WaitReadable(int fd, int wakeFd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return (fds[1].revents & POLLIN) == 0;
}

// False when the client went away.
bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += std::size_t(n);
    }
    return true;
}

std::string Head(const HttpResponse& response, bool chunked) {
    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    if (chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else {
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    head += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
    }
    return head + "\r\n";
}

std::string Chunk(const std::string& bytes) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
    return size + bytes + "\r\n";
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

LoopbackHttpServer::LoopbackHttpServer(Mode mode) : m_mode(mode) {
    m_listen = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!m_listen) {
        ThrowErrno("socket");
    }
    int yes = 1;
    ::setsockopt(m_listen.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(m_listen.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ThrowErrno("bind");
    }
    if (::listen(m_listen.get(), 16) != 0) {
        ThrowErrno("listen");
    }
    socklen_t length = sizeof address;
    if (::getsockname(m_listen.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ThrowErrno("getsockname");
    }
    m_port = ntohs(address.sin_port);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ThrowErrno("pipe2");
    }
    m_wakeRead = UniqueFd(pipeFds[0]);
    m_wakeWrite = UniqueFd(pipeFds[1]);
    m_thread = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    char stop = 1;
    while (::write(m_wakeWrite.get(), &stop, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
}

std::string LoopbackHttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void LoopbackHttpServer::Route(const std::string& path, HttpResponse response) {
    std::lock_guard lock(m_mutex);
    m_routes[path] = Reply{std::move(response), std::nullopt, 0, false};
}

void LoopbackHttpServer::RouteRaw(const std::string& path, std::string bytes, bool holdOpen) {
    std::lock_guard lock(m_mutex);
    m_routes[path] = Reply{HttpResponse{}, std::move(bytes), 0, holdOpen};
}

void LoopbackHttpServer::RouteChunked(const std::string& path, std::string chunk,
                                      std::uint64_t repeats,
                                      std::vector<std::pair<std::string, std::string>> headers) {
    std::lock_guard lock(m_mutex);
    HttpResponse response{200, "OK", std::move(chunk), std::move(headers)};
    m_routes[path] = Reply{std::move(response), std::nullopt, repeats, false};
}

void LoopbackHttpServer::RouteRedirect(const std::string& path, const std::string& location,
                                       int status) {
    Route(path, HttpResponse{status, "Found", "", {{"Location", location}}});
}

void LoopbackHttpServer::ServeFolder(const std::string& folder) {
    std::lock_guard lock(m_mutex);
    m_folder = folder;
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int LoopbackHttpServer::Connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

void LoopbackHttpServer::Run() {
    while (WaitReadable(m_listen.get(), m_wakeRead.get())) {
        UniqueFd client(::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) {
            continue;
        }
        std::unique_lock lock(m_mutex);
        ++m_connections;
        if (m_mode == Mode::Silent) {
            m_held.push_back(std::move(client));  // open, and never a byte back
            continue;
        }
        lock.unlock();
        Answer(std::move(client));
    }
}

void LoopbackHttpServer::Answer(UniqueFd client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (!WaitReadable(client.get(), m_wakeRead.get())) {
            return;
        }
        ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        request.append(buffer, std::size_t(n));
    }
    // "GET /path?query HTTP/1.1"
    std::size_t start = request.find(' ');
    std::size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    std::string target =
        end == std::string::npos ? "/" : request.substr(start + 1, end - start - 1);
    Reply reply = ReplyFor(target);
    Send(client.get(), reply);
    if (reply.holdOpen) {
        std::lock_guard lock(m_mutex);
        m_held.push_back(std::move(client));
        return;
    }
    ::shutdown(client.get(), SHUT_WR);
}

void LoopbackHttpServer::Send(int fd, const Reply& reply) {
    if (reply.raw) {
        SendAll(fd, *reply.raw);
        return;
    }
    if (reply.chunkRepeats == 0) {
        SendAll(fd, Head(reply.response, false) + reply.response.body);
        return;
    }
    if (!SendAll(fd, Head(reply.response, true))) {
        return;
    }
    const std::string chunk = Chunk(reply.response.body);
    for (std::uint64_t i = 0; i < reply.chunkRepeats; ++i) {
        if (!SendAll(fd, chunk)) {
            return;
        }
    }
    SendAll(fd, "0\r\n\r\n");
}

LoopbackHttpServer::Reply LoopbackHttpServer::ReplyFor(const std::string& target) {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(target);
    const std::string path = target.substr(0, target.find('?'));
    if (auto it = m_routes.find(path); it != m_routes.end()) {
        return it->second;
    }
    Reply missing{HttpResponse{404, "Not Found", "no such document\n", {}}, std::nullopt, 0, false};
    if (m_folder.empty() || path.find("..") != std::string::npos) {
        return missing;
    }
    std::ifstream file(m_folder + path, std::ios::binary);
    if (!file || path.ends_with('/')) {
        return missing;
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return Reply{HttpResponse{200, "OK", bytes.str(), {{"Content-Type", "application/xml"}}},
                 std::nullopt, 0, false};
}

}  // namespace quorrel::test
