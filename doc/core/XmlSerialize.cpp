// The document as text. The layout is chosen so that the text re-parses to
// the same DOM (whitespace-only text is dropped on parse, so indentation is
// added only where no text can be) and reads well in the source pane.
#include <libxml/tree.h>

#include <cstring>

#include "doc/core/XmlDom.h"
#include "doc/core/XmlDomInternal.h"
#include "doc/core/XmlWrite.h"

namespace quorrel {

using detail::str;
using detail::Writer;

namespace {

void writeDoctype(Writer& w, const xmlDtd* dtd, const std::string& asParsed) {
    if (!asParsed.empty()) {
        w.raw(asParsed);  // commands never change the DTD: its text stays as the user wrote it
        return;
    }
    w.raw("<!DOCTYPE ");
    w.raw(dtd->name);
    if (dtd->ExternalID != nullptr) {
        w.raw(" PUBLIC \"");
        w.raw(dtd->ExternalID);
        w.raw("\"");
        if (dtd->SystemID != nullptr) {
            w.raw(" \"");
            w.raw(dtd->SystemID);
            w.raw("\"");
        }
    } else if (dtd->SystemID != nullptr) {
        w.raw(" SYSTEM \"");
        w.raw(dtd->SystemID);
        w.raw("\"");
    }
    if (dtd->children != nullptr) {
        w.raw(" [\n");
        xmlBufferPtr buffer = xmlBufferCreate();
        for (xmlNodePtr decl = dtd->children; decl != nullptr; decl = decl->next) {
            xmlBufferEmpty(buffer);
            xmlNodeDump(buffer, dtd->doc, decl, 0, 0);
            std::string_view text(str(xmlBufferContent(buffer)),
                                  std::size_t(xmlBufferLength(buffer)));
            while (!text.empty() && text.back() == '\n') {
                text.remove_suffix(1);
            }
            w.raw(text);
            w.raw("\n");
        }
        xmlBufferFree(buffer);
        w.raw("]");
    }
    w.raw(">");
}

}  // namespace

std::string XmlDocument::xml() const {
    std::string out;
    const detail::DocState& state = *m_state;
    if (state.doc == nullptr) {
        return out;
    }
    // Growing by doubling would copy the text several times over.
    out.reserve(state.sourceBytes + state.sourceBytes / 8);
    Writer w(out);
    if (!state.declarationText.empty()) {
        w.raw(state.declarationText);  // as the user wrote it
        w.raw("\n");
    } else if (state.hasDeclaration) {
        w.raw("<?xml version=\"");
        w.raw(state.declVersion);
        w.raw("\"");
        if (!state.declEncoding.empty()) {
            w.raw(" encoding=\"");
            w.raw(state.declEncoding);
            w.raw("\"");
        }
        if (state.standaloneYes) {
            w.raw(" standalone=\"yes\"");
        }
        w.raw("?>\n");
    }
    for (xmlNodePtr n = state.doc->children; n != nullptr; n = n->next) {
        switch (n->type) {
            case XML_DTD_NODE:
                writeDoctype(w, reinterpret_cast<const xmlDtd*>(n), state.doctypeText);
                break;
            case XML_ELEMENT_NODE: {
                detail::NamespaceScope scope;
                detail::writeElement(w, n, 0, scope);
                break;
            }
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                detail::writeLeaf(w, n);
                break;
            default:
                continue;
        }
        w.raw("\n");
    }
    return out;
}

}  // namespace quorrel
