#include "doc/core/UrlFetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
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
    std::string statusLine;    // of the last response: redirects come first
    bool headerEnded = false;  // the last response's header came whole
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
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/")) {
        transfer->statusLine = line;
        transfer->headerEnded = false;
    } else if (line.empty()) {
        transfer->headerEnded = true;
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

bool IsHttpUrl(const std::string& url) {
    auto starts = [&](std::string_view scheme) {
        return url.size() >= scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               });
    };
    return starts("http://") || starts("https://");
}

// libcurl's reason, put in words that say what the server did wrong. url is
// where the transfer ended, requested where it began.
std::string FailureText(CURLcode rc, const std::string& curlText, const std::string& url,
                        const std::string& requested, long status) {
    const std::string why = " (" + curlText + ")";
    switch (rc) {
        case CURLE_PARTIAL_FILE:
            return "The connection broke off before the whole of " + url + " had come" + why + ".";
        case CURLE_RECV_ERROR:  // a reset connection, or a header past libcurl's limit
            return "The answer from " + url + " could not be read" + why + ".";
        case CURLE_GOT_NOTHING:
            return "The server at " + url + " closed the connection without answering.";
        case CURLE_BAD_CONTENT_ENCODING:
            return "The document at " + url + " could not be decompressed" + why + ".";
        case CURLE_WEIRD_SERVER_REPLY:
            return "The server at " + url + " did not answer in HTTP" + why + ".";
        case CURLE_UNSUPPORTED_PROTOCOL: {
            if (status >= 300 && status < 400) {
                return "A redirect from " + requested + " leads to " + url +
                       ", which is not an http or https URL.";
            }
            if (!IsHttpUrl(url)) {
                return "Only http and https URLs can be opened, not " + url + ".";
            }
            // The answer had no status line (HTTP/0.9), so nothing said it was HTTP.
            return "The server at " + url + " did not answer in HTTP" + why + ".";
        }
        default:
            return curlText;
    }
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
    options.maxBytes = MaxDocumentBytes();
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

    std::string limit = ByteLimitText(options.maxBytes);
    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        result.cancelled = true;
        result.error = "The transfer was cancelled.";
    } else if (transfer.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        result.error = "The document at " + result.effectiveUrl + " is larger than " + limit + ".";
    } else if (rc != CURLE_OK) {
        result.error = FailureText(rc, errorText[0] != '\0' ? errorText : curl_easy_strerror(rc),
                                   result.effectiveUrl, url, result.status);
    } else if (!transfer.headerEnded) {
        // libcurl takes a header cut short by the end of the connection as an empty body.
        result.error = "The connection broke off before the whole of " + result.effectiveUrl +
                       " had come (the server's answer ended within its header).";
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
