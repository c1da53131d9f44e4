// What each tree command does to the DOM: the per-element changes, the
// elements a command reaches, and the copying of subtrees.
#include "edit/core/TreeCommands.h"

#include <optional>
#include <string>
#include <vector>

#include "doc/core/XmlDom.h"
#include "edit/core/TreeCommandsInternal.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel {

using commands_detail::AddressedKind;
using commands_detail::Addresses;

namespace {

// ---- Per-element changes. Those that report a result return false on failure.

void AddAttributeTo(XmlNode element, const std::string& name, const std::string& value) {
    element.setAttribute(name, value);
}

void AddChildElementTo(XmlNode element, const std::string& tagName, const std::string& text) {
    XmlDocument& doc = element.ownerDocument();
    XmlNode child = element.appendChild(doc.createElement(tagName));
    child.appendChild(doc.createTextNode(text));
}

void AddTextNodeTo(XmlNode element, const std::string& text) {
    element.appendChild(element.ownerDocument().createTextNode(text));
}

// The element gets a new name: what a new element taking its attributes and
// its children, and its place, would be (occurrences nested inside stay in
// the document).
bool Rename(XmlNode element, const std::string& newName) {
    if (!element.parentNode()) {
        return false;
    }
    if (newName != element.nodeName()) {
        // The DTD gave its declarations to the old name only: written out,
        // they keep everything below in its namespace (one that says what
        // the parent's scope says already needs no writing).
        XmlNode parent = element.parentNode();
        for (XmlNode attribute : element.namespaceDeclarations()) {
            std::string name = attribute.nodeName();
            if (!attribute.specified()) {
                std::string_view prefix = name == "xmlns" ? "" : std::string_view(name).substr(6);
                if (parent.lookupNamespaceURI(prefix) != attribute.value()) {
                    attribute.setValue(attribute.value());
                }
            }
        }
    }
    element.renameAsCreated(newName);
    return true;
}

bool IsBelow(XmlNode node, XmlNode ancestor) {
    for (XmlNode n = node.parentNode(); n; n = n.parentNode()) {
        if (n == ancestor) {
            return true;
        }
    }
    return false;
}

// Every element of the name below the document element goes, with its
// subtree. One list, walked once: an element inside one removed earlier went
// with it.
void DeleteWithChildren(XmlDocument& doc, const std::string& name) {
    XmlNode root = doc.documentElement();
    for (XmlNode element : root.getElementsByTagName(name)) {
        if (IsBelow(element, root)) {
            element.parentNode().removeChild(element);
        }
    }
}

// The element's children take its place, in order; the element goes.
bool DeleteElementOnly(XmlNode element) {
    XmlNode parent = element.parentNode();
    if (!parent) {
        return false;
    }
    for (XmlNode child = element.firstChild(); child; child = element.firstChild()) {
        parent.insertBefore(child, element);
    }
    parent.removeChild(element);
    return true;
}

// A copy of the element and its subtree becomes its previous sibling.
bool Duplicate(XmlNode element) {
    XmlNode parent = element.parentNode();
    if (!parent) {
        return false;
    }
    XmlNode fragment = element.ownerDocument().createDocumentFragment();
    CopyNode(element, fragment);
    parent.insertBefore(fragment, element);
    return true;
}

void ChangeAttributeNameIn(XmlNode element, const std::string& name, const std::string& newName) {
    XmlNamedNodeMap attributes = element.attributes();
    XmlNode old = attributes.getNamedItem(name);
    if (!old) {
        return;
    }
    XmlNode renamed = element.ownerDocument().createAttribute(newName);
    renamed.setValue(old.nodeValue());
    attributes.removeNamedItem(name);
    attributes.setNamedItem(renamed);
}

void ChangeAttributeValueIn(XmlNode element, const std::string& name, const std::string& value) {
    XmlNode attr = element.attributes().getNamedItem(name);
    if (attr) {
        attr.setNodeValue(value);
    }
}

void DeleteAttributeFrom(XmlNode element, const std::string& name) {
    XmlNamedNodeMap attributes = element.attributes();
    if (attributes.getNamedItem(name)) {
        attributes.removeNamedItem(name);
    }
}

bool AttributeToElementIn(XmlNode element, const std::string& name) {
    XmlNamedNodeMap attributes = element.attributes();
    XmlNode attr = attributes.getNamedItem(name);
    if (!attr) {
        return true;
    }
    XmlDocument& doc = element.ownerDocument();
    XmlNode child = doc.createElement(name);
    child.appendChild(doc.createTextNode(attr.nodeValue()));
    element.appendChild(child);
    attributes.removeNamedItem(name);
    return true;
}

bool ElementToAttribute(XmlNode element) {
    XmlNode parent = element.parentNode();
    if (!parent) {
        return false;
    }
    if (element.attributes().length() > 0) {
        return true;  // only text-only elements without attributes convert
    }
    for (XmlNode c = element.firstChild(); c; c = c.nextSibling()) {
        if (c.nodeType() != NodeType::Text) {
            return true;
        }
    }
    XmlNode first = element.firstChild();
    if (!first) {
        return false;
    }
    XmlNode attr = element.ownerDocument().createAttribute(element.nodeName());
    attr.setValue(first.nodeValue());
    parent.attributes().setNamedItem(attr);
    parent.removeChild(element);
    return true;
}

XmlNode TextChild(XmlNode element, std::size_t ordinal) {
    std::size_t count = 0;
    for (XmlNode c = element.firstChild(); c; c = c.nextSibling()) {
        if (c.nodeType() == NodeType::Text && count++ == ordinal) {
            return c;
        }
    }
    return {};
}

bool ChangeTextValueIn(XmlNode element, const std::string& text, std::size_t ordinal) {
    if (XmlNode node = TextChild(element, ordinal)) {
        node.setNodeValue(text);
    }
    return true;
}

void DeleteTextNodeFrom(XmlNode element, std::size_t ordinal) {
    if (XmlNode node = TextChild(element, ordinal)) {
        try {
            element.removeChild(node);
        } catch (const DomError&) {
            // a refused removal is passed over
        }
    }
}

// What one command does to one element; false reports a failure.
struct Change {
    TreeCommand command;
    const CommandInputs& inputs;
    std::string attributeName;
    std::size_t textOrdinal = 0;

    bool ApplyTo(XmlNode e) const {
        switch (command) {
            case TreeCommand::AddAttribute:
                AddAttributeTo(e, inputs.name, inputs.value);
                return true;
            case TreeCommand::AddChildElement:
                AddChildElementTo(e, inputs.name, inputs.value);
                return true;
            case TreeCommand::AddTextNode:
                AddTextNodeTo(e, inputs.value);
                return true;
            case TreeCommand::RenameElement:
                return Rename(e, inputs.name);
            case TreeCommand::DeleteElementOnly:
                return DeleteElementOnly(e);
            case TreeCommand::DuplicateElementSubTree:
                return Duplicate(e);
            case TreeCommand::ElementToAttribute:
                return ElementToAttribute(e);
            case TreeCommand::ChangeAttributeName:
                ChangeAttributeNameIn(e, attributeName, inputs.name);
                return true;
            case TreeCommand::ChangeAttributeValue:
                ChangeAttributeValueIn(e, attributeName, inputs.value);
                return true;
            case TreeCommand::DeleteAttribute:
                DeleteAttributeFrom(e, attributeName);
                return true;
            case TreeCommand::AttributeToElement:
                return AttributeToElementIn(e, attributeName);
            case TreeCommand::ChangeTextValue:
                return ChangeTextValueIn(e, inputs.value, textOrdinal);
            case TreeCommand::DeleteTextNode:
                DeleteTextNodeFrom(e, textOrdinal);
                return true;
            case TreeCommand::DeleteElementAndChildren:
                break;
        }
        return false;
    }
};

std::vector<XmlNode> ElementsToChange(XmlDocument& dom, XmlNode target, TreeCommand command,
                                      bool allOccurrences) {
    if (allOccurrences && FieldsOf(command).allOccurrences) {
        // Fixed when built: every element that bore the name is changed once.
        return dom.documentElement().getElementsByTagName(target.nodeName());
    }
    return {target};
}

bool ApplyChange(XmlDocument& dom, XmlNode target, const Change& change) {
    if (change.command == TreeCommand::DeleteElementAndChildren) {
        DeleteWithChildren(dom, target.nodeName());
        return true;
    }
    for (XmlNode element :
         ElementsToChange(dom, target, change.command, change.inputs.allOccurrences)) {
        if (!change.ApplyTo(element)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void CopyNode(XmlNode node, XmlNode destination) {
    struct Pending {
        XmlNode source;
        XmlNode into;
    };
    std::vector<Pending> pending{{node, destination}};
    while (!pending.empty()) {
        Pending p = pending.back();
        pending.pop_back();
        XmlNode copy = p.into.appendChild(p.source.cloneNode());
        if (copy.nodeType() != NodeType::Element) {
            continue;
        }
        // Pushed last to first so they are appended first to last.
        for (XmlNode c = p.source.lastChild(); c; c = c.previousSibling()) {
            pending.push_back({c, copy});
        }
    }
}

void CopyChildren(XmlNode source, XmlNode destination) {
    for (XmlNode child = source.firstChild(); child; child = child.nextSibling()) {
        CopyNode(child, destination);
    }
}

TreeTarget TargetOf(const CurrentItem& current, TreeCommand command) {
    TreeTarget target;
    if (current.hSelItem == nullptr) {
        return target;
    }
    target.present = true;
    target.selectedImage = current.nSelSelectedImage;
    target.label = current.strSelItem;
    Addresses kind = AddressedKind(command);
    if (kind == Addresses::Element) {
        target.path = ItemPath(current.hSelItem, current.strSelItem);
    } else if (const CTreeItem* owner = current.hSelItem->parent()) {
        target.path = ItemPath(owner);
    }
    if (kind == Addresses::Text) {
        target.textOrdinal = CountTextSiblingsBefore(current.hSelItem);
    }
    return target;
}

DomChange ChangeDom(XmlDocument& dom, const CurrentItem& current, TreeCommand command,
                    const CommandInputs& inputs) {
    return ChangeDom(dom, TargetOf(current, command), command, inputs);
}

DomChange ChangeDom(XmlDocument& dom, const TreeTarget& target, TreeCommand command,
                    const CommandInputs& inputs) {
    DomChange result;
    if (inputs.cancelled || !target.present ||
        !IsTreeCommandEnabled(command, target.selectedImage)) {
        return result;
    }
    CommandFields fields = FieldsOf(command);
    if ((fields.nameMustNotBeEmpty && inputs.name.empty()) ||
        (fields.valueMustNotBeEmpty && inputs.value.empty())) {
        return result;
    }
    if (fields.name && !IsXmlName(inputs.name)) {
        result.outcome = CommandOutcome::Failed;
        result.message = "\"" + inputs.name + "\" is not a valid XML name.";
        return result;
    }

    Addresses kind = AddressedKind(command);
    const char* missing =
        (command == TreeCommand::AttributeToElement || command == TreeCommand::DeleteAttribute)
            ? kSomeUnexpectedError
            : kUnexpectedError;
    std::optional<std::vector<XmlNode>> nodes;
    if (!target.path.empty()) {
        nodes = dom.selectNodes(target.path);
    }
    if (!nodes || nodes->empty()) {
        result.outcome = CommandOutcome::Failed;
        result.message = missing;
        return result;
    }

    Change change{command, inputs, {}, 0};
    if (kind == Addresses::Attribute) {
        change.attributeName = AttributeNameOfLabel(target.label);
    } else if (kind == Addresses::Text) {
        change.textOrdinal = target.textOrdinal;
    }
    bool succeeded = false;
    try {
        succeeded = ApplyChange(dom, nodes->front(), change);
    } catch (const DomError&) {
        succeeded = false;
    }
    result.outcome = succeeded ? CommandOutcome::Done : CommandOutcome::Failed;
    if (!succeeded) {
        result.message = kUnexpectedError;
        result.domChanged = true;
    }
    return result;
}

bool ChangeElement(XmlNode element, TreeCommand command, const CommandInputs& inputs,
                   std::string_view attributeName, std::size_t textOrdinal) {
    if (command == TreeCommand::DeleteElementAndChildren) {
        XmlNode root = element.ownerDocument().documentElement();
        if (IsBelow(element, root)) {
            element.parentNode().removeChild(element);
        }
        return true;
    }
    return Change{command, inputs, std::string(attributeName), textOrdinal}.ApplyTo(element);
}

}  // namespace quorrel
