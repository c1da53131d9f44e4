// What the editor needs from a parse beyond libxml2's own tree: which
// attributes and namespace declarations the DTD supplied, adjacent CDATA
// sections kept apart, external entities read in the encoding they declare,
// and text made only of blanks dropped as it is read (never built, so a
// pretty-printed document does not cost a node per line). The hooks go into
// the context's own SAX handler, which is restored on destruction.
#pragma once

#include <libxml/parser.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorrel {

// Told of the nodes the tree pane shows, in document order, as the parse
// completes them; each is freed right after (its pointers are good only during
// the call). The document element comes first, with no attributes of its own shown.
class ShownNodeSink {
public:
    virtual ~ShownNodeSink() = default;
    // Its name, namespace declarations and attributes are known.
    virtual void StartElement(const xmlNode* element) = 0;
    virtual void EndElement() = 0;
    // A text (blank text already dropped), a CDATA section or a comment.
    virtual void Leaf(const xmlNode* node) = 0;
};

class ParseHooks {
public:
    // fail: how the parse reports what ends it here (out of memory).
    using Fail = std::function<void(long line, std::string reason)>;
    // shown: told the shown nodes instead of building the tree, when the
    // document turns out to have no DTD. text: the UTF-8 text being parsed,
    // whole, when the nodes are to record where they stand in it.
    ParseHooks(xmlParserCtxtPtr ctxt, Fail fail, bool dropBlankText, ShownNodeSink* shown = nullptr,
               std::string_view text = {});
    ~ParseHooks();
    ParseHooks(const ParseHooks&) = delete;
    ParseHooks& operator=(const ParseHooks&) = delete;

    // Whether text made only of blanks may stand in the tree after all
    // (entity content parsed apart, elements declared EMPTY, or nothing
    // dropped while parsing): the whitespace pass must then look.
    bool BlankTextMayRemain() const { return m_blankTextMayRemain; }
    // Whether an element names an XML Schema (xsi:schemaLocation or
    // xsi:noNamespaceSchemaLocation): without one there is none to validate against.
    bool NamesSchemas() const { return m_namesSchemas; }
    // Whether the nodes went to the sink (the document has no DTD) and were freed.
    bool Told() const { return m_telling; }
    // Where the texts that a reference to an entity with markup ends stop
    // (kMarkTextCut): the rest end at the next '<'.
    std::unordered_map<const xmlNode*, std::uint32_t> TakeTextEnds() {
        return std::move(m_textEnds);
    }

private:
    static void OnStartDocument(void* ctx);
    static void OnEndDocument(void* ctx);
    static void OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                 const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                                 int nbAttributes, int nbDefaulted, const xmlChar** attributes);
    static void OnEndElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                               const xmlChar* uri);
    static void OnCharacters(void* ctx, const xmlChar* ch, int len);
    static void OnCDataBlock(void* ctx, const xmlChar* value, int len);
    static void OnComment(void* ctx, const xmlChar* value);
    static void OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data);
    static xmlEntityPtr OnGetEntity(void* ctx, const xmlChar* name);

    // Blanks held back: dropped if the text ends with them, else put in
    // front of what follows.
    bool MayHoldBack(xmlParserCtxtPtr ctxt, xmlNodePtr parent) const;
    void PutBackHeldBlanks(xmlParserCtxtPtr ctxt);  // nodes came without a callback
    void FlushHeldBlanks(xmlParserCtxtPtr ctxt);    // more text follows
    void DropHeldBlanks() { m_held.clear(), m_heldParent = nullptr; }
    // Any event that is not more text of the same run ends it.
    void EndOfText(xmlParserCtxtPtr ctxt);
    // Tells (or only frees) the node the parent was just given, when it is of that type.
    void TellLast(xmlParserCtxtPtr ctxt, xmlElementType type, bool shown);

    // Where the nodes stand in the text: the start tag that ends at the
    // input's position, and the construct that follows the last markup.
    std::size_t InputOffset(xmlParserCtxtPtr ctxt) const;
    void PlaceElement(xmlParserCtxtPtr ctxt, xmlNodePtr element);
    void PlaceElementEnd(xmlParserCtxtPtr ctxt, xmlNodePtr element);
    void PlaceNewText(xmlParserCtxtPtr ctxt);
    // The markup starting at the first '<' after the last one, ending with
    // close; returns its start. PlaceLast gives it to the node just added.
    std::size_t PlaceMarkup(std::size_t openSize, std::string_view close);
    void PlaceLast(xmlParserCtxtPtr ctxt, xmlElementType type, std::size_t openSize,
                   std::string_view close);
    bool Placing(xmlParserCtxtPtr ctxt) const {
        return !m_text.empty() && ctxt == m_ctxt && m_depth > 0 && ctxt->inputNr == 1;
    }
    // A text run starts (characters, or a reference whose entity is text).
    void StartRun() {
        if (!m_runOpen) {
            m_runOpen = true;
            m_runBegin = m_pos;
        }
    }
    // A general entity reference in content, seen when its entity is looked
    // up: what its expansion added is known at the next event.
    void NoteReference(xmlParserCtxtPtr ctxt);
    void ResolveReference(xmlParserCtxtPtr ctxt);

    xmlParserCtxtPtr m_ctxt;
    Fail m_fail;
    std::string_view m_text;
    std::size_t m_pos = 0;      // where the last markup or reference read ended
    bool m_selfClosed = false;  // the last start tag ended with "/>"
    bool m_runOpen = false;     // text (or blanks held back) since the last markup
    std::size_t m_runBegin = 0;
    struct Reference {
        bool pending = false;
        std::size_t begin = 0, end = 0;  // "&name;"
        xmlNodePtr parent = nullptr;
        xmlNodePtr lastBefore = nullptr;  // the parent's last child when it was read
        std::size_t textBefore = 0;       // the length of its text, when it is a text
    } m_reference;
    std::unordered_map<const xmlNode*, std::uint32_t> m_textEnds;
    xmlSAXHandler m_saved;  // the handler as it was, restored on destruction
    bool m_dropBlankText;
    bool m_blankTextMayRemain;
    bool m_namesSchemas = false;
    ShownNodeSink* m_shown;
    bool m_telling = false;           // decided at the document element
    xmlNodePtr m_openText = nullptr;  // the text node of the run under way, to tell at its end
    int m_depth = 0;                  // open elements
    std::vector<char> m_preserve;     // xml:space="preserve" in scope, per open element
    std::string m_held;
    xmlNodePtr m_heldParent = nullptr;
    xmlNodePtr m_heldAfter = nullptr;  // the parent's last child when the blanks came
    ParseHooks* m_previous;
};

}  // namespace quorrel
