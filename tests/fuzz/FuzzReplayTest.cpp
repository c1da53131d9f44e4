// Every seed of the fuzz corpora and every input a fuzzer once failed on,
// through the fuzzers' own checks, in the ordinary test run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fuzz/FuzzChecks.h"

using namespace quorrel::fuzz;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class FuzzReplay : public testing::TestWithParam<Target> {};

}  // namespace

namespace quorrel::fuzz {
void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}
}  // namespace quorrel::fuzz

TEST_P(FuzzReplay, SeedsAndRegressionsKeepTheInvariant) {
    const Target& target = GetParam();
    std::size_t seeds = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path folder = fs::path(QUORREL_FUZZ_DIR) / kind / target.name;
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            seeds += kind == std::string_view("corpus");
            EXPECT_EQ(target.check(ReadBytes(entry.path())), "") << entry.path();
        }
    }
    EXPECT_GE(seeds, 10u) << "the seed corpus of " << target.name << " is missing";
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(Targets()),
                         [](const testing::TestParamInfo<Target>& info) {
                             return std::string(info.param.name);
                         });
