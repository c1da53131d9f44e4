// quorrel-cli fetch: a document opened from an http or https URL.
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/Command.h"
#include "cli/Common.h"
#include "doc/core/Doc.h"
#include "doc/core/MessageSink.h"

namespace quorrel::cli {
namespace {

constexpr const char* kUsage =
    "  fetch [--no-validate] URL\n"
    "      Open the http or https URL as File > Open (URL) does: fetch it\n"
    "      (redirects followed, DTDs and schemas it names fetched beside it, never\n"
    "      read from local files), parse it and print the document text the editor\n"
    "      would show, the parser's serialisation, to standard output. A URL that\n"
    "      cannot be fetched or a document that does not parse prints the message\n"
    "      to standard error and makes the exit status 1. The connect and transfer\n"
    "      time-outs (10 s and 60 s) can be set in milliseconds with the environment\n"
    "      variables QUORREL_CONNECT_TIMEOUT_MS and QUORREL_TRANSFER_TIMEOUT_MS.\n";

class Fetch final : public Command {
public:
    std::string_view name() const override { return "fetch"; }
    std::string_view usage() const override { return kUsage; }
    int run(const std::vector<std::string_view>& args) const override;
};

int Fetch::run(const std::vector<std::string_view>& args) const {
    Arguments parsed = ParseArguments(args);
    if (!parsed.error.empty()) {
        return UsageError(parsed.error);
    }
    if (parsed.positional.size() != 1) {
        return UsageError("fetch takes one URL");
    }
    CollectingSink sink;
    CDoc doc(sink);
    if (!parsed.validate) {
        doc.OnValidateNo();
    }
    bool opened = doc.OnOpenUrl(parsed.positional[0]) == UrlOpenResult::Opened;
    PrintMessages(sink);  // when opened: the DTDs it was opened without
    if (!opened) {
        return kExitMessage;
    }
    std::fwrite(doc.Text().data(), 1, doc.Text().size(), stdout);
    return 0;
}

}  // namespace

std::unique_ptr<Command> MakeFetch() {
    return std::make_unique<Fetch>();
}

}  // namespace quorrel::cli
