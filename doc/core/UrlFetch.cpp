#include "doc/core/UrlFetch.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace quorrel {

namespace {

// libcurl's global state, set up on first use and released at exit.
class CurlGlobal {
public:
    CurlGlobal() {
        CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
        if (rc != CURLE_OK) {
            throw std::runtime_error(std::string("Cannot initialise libcurl: ") +
                                     curl_easy_strerror(rc));
        }
    }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

void EnsureCurl() {
    static CurlGlobal global;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct Transfer {
    std::string body;
    std::uint64_t maxBytes = 0;
    bool tooLarge = false;
    std::string statusLine;  // of the last response: redirects come first
    const std::atomic<bool>* cancel = nullptr;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::size_t bytes = size * count;
    if (transfer->body.size() + bytes > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0;  // fewer bytes than offered stops the transfer
    }
    transfer->body.append(data, bytes);
    return bytes;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        transfer->statusLine = line;
    }
    return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    return transfer->cancel != nullptr && transfer->cancel->load() ? 1 : 0;
}

// "404 Not Found" from "HTTP/1.1 404 Not Found".
std::string StatusText(const std::string& statusLine, long status) {
    std::size_t blank = statusLine.find(' ');
    if (blank == std::string::npos || blank + 1 >= statusLine.size()) {
        return std::to_string(status);
    }
    return statusLine.substr(blank + 1);
}

std::chrono::milliseconds FromEnvironment(const char* name, std::chrono::milliseconds fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    char* end = nullptr;
    long long ms = std::strtoll(value, &end, 10);
    return (*end == '\0' && ms > 0) ? std::chrono::milliseconds(ms) : fallback;
}

}  // namespace

FetchOptions FetchOptions::FromEnvironment() {
    FetchOptions options;
    options.connectTimeout =
        quorrel::FromEnvironment("QUORREL_CONNECT_TIMEOUT_MS", options.connectTimeout);
    options.totalTimeout =
        quorrel::FromEnvironment("QUORREL_TRANSFER_TIMEOUT_MS", options.totalTimeout);
    return options;
}

FetchResult FetchUrl(const std::string& url, const FetchOptions& options) {
    EnsureCurl();
    FetchResult result;
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        result.error = "Cannot start a transfer (libcurl could not create a handle).";
        return result;
    }
    Transfer transfer;
    transfer.maxBytes = options.maxBytes;
    transfer.cancel = options.cancel;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(options.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBytes));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL,
                     1L);  // time-outs without SIGALRM, so any thread can fetch
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Quorrel");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    const char* effective = nullptr;
    curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective);
    result.effectiveUrl = effective != nullptr ? effective : url;

    constexpr std::uint64_t kMegabyte = 1024 * 1024;
    std::string limit = options.maxBytes % kMegabyte == 0
                            ? std::to_string(options.maxBytes / kMegabyte) + " MB"
                            : std::to_string(options.maxBytes) + " bytes";
    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        result.cancelled = true;
        result.error = "The transfer was cancelled.";
    } else if (transfer.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        result.error = "The document at " + result.effectiveUrl + " is larger than " + limit + ".";
    } else if (rc != CURLE_OK) {
        result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
    } else if (result.status >= 400) {
        result.error = "The server answered " + StatusText(transfer.statusLine, result.status) +
                       " for " + result.effectiveUrl + ".";
    } else {
        result.ok = true;
        result.body = std::move(transfer.body);
    }
    return result;
}

}  // namespace quorrel
