// What the XML catalogs in use (XML_CATALOG_FILES, else /etc/xml/catalog)
// let a document from the network read of this machine.
#pragma once

#include <string>
#include <string_view>

namespace quorrel {

// An identifier as the catalogs are asked about it: percent-escapes decoded
// once and dot segments resolved, so that "v1/../../x" cannot pass for a
// name under "v1/". Identifiers that are not URLs or paths stay as they are.
std::string NormalisedIdentifier(std::string_view identifier);

// Whether the local file at path is one that a catalog names by an exact
// entry, or lies inside the folder a rewrite entry maps a prefix to. Symbolic
// links are followed first; a file that is not there is not allowed.
bool CatalogsAllowLocalFile(const std::string& path);

}  // namespace quorrel
