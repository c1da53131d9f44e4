// Generated documents of a realistic shape for the benchmarks.
#pragma once

#include <cstddef>
#include <string>

namespace quorrel {

// Orders with attributes, mixed content, comments, CDATA and escaped characters.
inline std::string GenerateDocument(std::size_t targetBytes) {
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<shop name=\"Hollenby &amp; Co\">\n";
    for (std::size_t i = 0; doc.size() < targetBytes; ++i) {
        std::string n = std::to_string(i);
        doc += "\t<!-- order " + n + " -->\n";
        doc += "\t<order id=\"o" + n + "\" date=\"2026-12-0" + std::to_string(i % 9 + 1) +
               "\" status=\"shipped\">\n";
        doc += "\t\t<customer ref=\"c" + std::to_string(i % 997) +
               "\">M\xc3\xbcller &amp; Sons</customer>\n";
        doc += "\t\t<items>\n";
        for (int k = 0; k < 3; ++k) {
            doc += "\t\t\t<item sku=\"SKU-" + std::to_string(i * 3 + k) + "\" qty=\"" +
                   std::to_string(k + 1) +
                   "\" price=\"12.50\">Widget <b>blue</b> &lt;large&gt;</item>\n";
        }
        doc += "\t\t</items>\n";
        doc += "\t\t<note><![CDATA[Leave at the door if x < y && y > z.]]></note>\n";
        doc += "\t</order>\n";
    }
    doc += "</shop>\n";
    return doc;
}

}  // namespace quorrel
