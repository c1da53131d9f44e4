// Fetching a document, DTD, entity or schema over http or https.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "doc/core/FileCodec.h"

namespace quorrel {

struct FetchOptions {
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{60'000};  // the whole transfer, redirects included
    std::uint64_t maxBytes = kMaxDocumentBytes;      // of the body as decoded, not as sent
    // When it becomes true the transfer stops with an error; may be null.
    const std::atomic<bool>* cancel = nullptr;

    // The defaults, with the time-outs taken from QUORREL_CONNECT_TIMEOUT_MS
    // and QUORREL_TRANSFER_TIMEOUT_MS when those hold a positive number, and
    // the size limit from MaxDocumentBytes().
    static FetchOptions FromEnvironment();
};

struct FetchResult {
    bool ok = false;
    std::string body;          // the bytes served, when ok
    std::string error;         // why it failed, when not ok
    long status = 0;           // the final HTTP status, 0 when no answer came
    std::string effectiveUrl;  // where the body came from after redirects
    bool cancelled = false;    // stopped through FetchOptions::cancel
};

// GET over http or https only, following redirects (to http or https only).
// A status of 400 or more is a failure whose reason is the server's status line.
FetchResult FetchUrl(const std::string& url,
                     const FetchOptions& options = FetchOptions::FromEnvironment());

}  // namespace quorrel
