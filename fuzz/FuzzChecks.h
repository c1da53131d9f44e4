// The invariants the fuzz targets check. The tests replay the seed corpora
// and every input a fuzzer once failed on through the same functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorrel::fuzz {

// Each returns an empty string when the invariant holds, else what broke.
using Check = std::string (*)(std::string_view data);

// A document that loads re-parses from its serialisation to the same tree
// items, and serialising it again gives the same text. The first byte
// chooses validation.
std::string CheckLoadRoundTrip(std::string_view data);
// Decoding a file's bytes and encoding the unedited text gives the same bytes.
std::string CheckCodecRoundTrip(std::string_view data);
// The colouring runs cover the text exactly, in order, with neighbours of
// different formats, and colouring line by line gives the same runs.
std::string CheckColorize(std::string_view data);
// Tree commands on a document: after each successful one the text parses
// and its tree items are those the tree shows; any other outcome changes nothing.
std::string CheckTreeCommands(std::string_view data);

struct Target {
    const char* name;  // also the folder of its corpus: fuzz/corpus/<name>
    Check check;
};
const std::vector<Target>& Targets();
// Null for an unknown name.
Check CheckNamed(std::string_view name);

}  // namespace quorrel::fuzz
