// A small HTTP/1.1 server on 127.0.0.1 for the tests: fixed answers per path
// (also broken ones), files from a folder, or (silent) connections accepted
// and never answered.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quorrel::test {

// A file descriptor, closed when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

struct HttpResponse {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class LoopbackHttpServer {
public:
    enum class Mode { Answer, Silent };

    // Listens on an ephemeral port of 127.0.0.1; throws std::system_error when it cannot.
    explicit LoopbackHttpServer(Mode mode = Mode::Answer);
    ~LoopbackHttpServer();  // stops, drops every connection
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path.
    std::string Url(std::string_view path) const;

    void Route(const std::string& path, HttpResponse response);
    void RouteRedirect(const std::string& path, const std::string& location, int status = 302);
    // Bytes sent as they are: garbage, a Content-Length that lies, an answer
    // cut short. With holdOpen the connection stays open after them, as a
    // server that stalls; else it is closed.
    void RouteRaw(const std::string& path, std::string bytes, bool holdOpen = false);
    // A chunked answer of status 200: chunk sent repeats times, or until the
    // client goes away.
    void RouteChunked(const std::string& path, std::string chunk, std::uint64_t repeats,
                      std::vector<std::pair<std::string, std::string>> headers = {});
    // Paths without a route are files under folder (404 when missing).
    void ServeFolder(const std::string& folder);
    // The request targets (path and query, or the whole URL when asked as
    // a proxy) served or refused so far, in order.
    std::vector<std::string> Requests() const;
    // Connections accepted so far (silent mode holds them open).
    int Connections() const;

private:
    struct Reply {
        HttpResponse response;
        std::optional<std::string> raw;
        std::uint64_t chunkRepeats = 0;
        bool holdOpen = false;
    };

    void Run();
    void Answer(UniqueFd client);
    static void Send(int fd, const Reply& reply);
    Reply ReplyFor(const std::string& target);

    Mode m_mode;
    UniqueFd m_listen;
    UniqueFd m_wakeRead, m_wakeWrite;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::map<std::string, Reply> m_routes;
    std::string m_folder;
    std::vector<std::string> m_requests;
    std::vector<UniqueFd> m_held;
    int m_connections = 0;
    std::thread m_thread;  // last: started once everything else is ready
};

}  // namespace quorrel::test
