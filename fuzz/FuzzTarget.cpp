// One libFuzzer target; QUORREL_FUZZ_TARGET names the check it runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzChecks.h"

namespace {

const quorrel::fuzz::Check g_check = quorrel::fuzz::CheckNamed(QUORREL_FUZZ_TARGET);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_check == nullptr) {
        std::fprintf(stderr, "no fuzz check named %s\n", QUORREL_FUZZ_TARGET);
        std::abort();
    }
    const std::string failure =
        g_check(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!failure.empty()) {
        std::fprintf(stderr, "\n%s: invariant broken: %s\n", QUORREL_FUZZ_TARGET, failure.c_str());
        std::abort();
    }
    return 0;
}
