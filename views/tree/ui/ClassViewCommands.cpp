// The tree commands run from the tree pane: each one's dialog, its work
// apart from the window when the document is large, and the text and items
// it leaves; the commands' registration with their enabling.
#include <utility>

#include "edit/core/MatchCommands.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/BackgroundWork.h"
#include "framework/ui/Commands.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

namespace quorrel {

namespace {

// The node a command leaves changed: the item it acts on, or the element
// that held what it removed or moved (a renamed attribute goes last).
const CTreeItem* ChangedNode(TreeCommand command, const CTreeItem* item) {
    switch (command) {
        case TreeCommand::ChangeAttributeName:
        case TreeCommand::DeleteElementAndChildren:
        case TreeCommand::DeleteElementOnly:
        case TreeCommand::DeleteAttribute:
        case TreeCommand::DeleteTextNode:
        case TreeCommand::AttributeToElement:
        case TreeCommand::ElementToAttribute:
            return item->parent() != nullptr ? item->parent() : item;
        default:
            return item;
    }
}

// Undoing the text a command sets takes the caret back to the node it
// changed, where the node stood in the text before.
class UndoCaretScope {
public:
    UndoCaretScope(CDView* view, std::size_t offset) : m_view(view) {
        if (m_view != nullptr && offset != CTreeItem::kNoOffset) {
            m_view->ReturnCaretOnUndo(offset);
        }
    }
    ~UndoCaretScope() {
        if (m_view != nullptr) {
            m_view->ReturnCaretOnUndo(std::nullopt);  // the command set no text
        }
    }
    UndoCaretScope(const UndoCaretScope&) = delete;
    UndoCaretScope& operator=(const UndoCaretScope&) = delete;

private:
    CDView* m_view;
};

}  // namespace

void CClassView::ShowCommandDone(const std::vector<int>& changedAt) {
    if (const CTreeItem* changed = ItemAt(changedAt)) {
        emit changedNodeShown(changed);
    }
    EmitParsed();
}

namespace {

// What the message pane says while a command runs apart.
QString UnderWay(TreeCommand command) {
    switch (command) {
        case TreeCommand::AddAttribute:
            return QStringLiteral("Adding attributes…");
        case TreeCommand::AddChildElement:
            return QStringLiteral("Adding child elements…");
        case TreeCommand::AddTextNode:
            return QStringLiteral("Adding text nodes…");
        case TreeCommand::RenameElement:
            return QStringLiteral("Renaming elements…");
        case TreeCommand::DeleteElementAndChildren:
        case TreeCommand::DeleteElementOnly:
            return QStringLiteral("Deleting elements…");
        case TreeCommand::ElementToAttribute:
            return QStringLiteral("Making elements attributes…");
        case TreeCommand::DuplicateElementSubTree:
            return QStringLiteral("Duplicating the element…");
        case TreeCommand::ChangeAttributeName:
            return QStringLiteral("Renaming attributes…");
        case TreeCommand::ChangeAttributeValue:
            return QStringLiteral("Changing attribute values…");
        case TreeCommand::AttributeToElement:
            return QStringLiteral("Making attributes elements…");
        case TreeCommand::DeleteAttribute:
            return QStringLiteral("Deleting attributes…");
        case TreeCommand::DeleteTextNode:
            return QStringLiteral("Deleting text nodes…");
        case TreeCommand::ChangeTextValue:
            return QStringLiteral("Changing text values…");
    }
    return QStringLiteral("Working…");
}

}  // namespace

struct CClassView::ChangedApart {
    TreeCommandResult result;
    std::optional<CTreeRows> rows;
    PreparedText prepared;
};

void CClassView::OnTreeCommand(TreeCommand command) {
    if (!IsTreeCommandEnabled(command, m_current.nSelSelectedImage) ||
        m_current.hSelItem == nullptr || WorkUnderWay()) {
        return;
    }
    const CTreeItem* changed = ChangedNode(command, m_current.hSelItem);
    const std::vector<int> changedAt = PositionOf(changed);
    std::unique_ptr<CTreeCommandDlg> dialog = CreateTreeCommandDialog(command, window());
    if (m_execDialog(*dialog) != QDialog::Accepted) {
        return;  // Cancel changes nothing
    }
    CommandInputs inputs = dialog->Inputs();
    dialog.reset();
    // Values only: the items may be expanded and collapsed while the command runs.
    const TreeTarget target = TargetOf(m_current, command);
    const CDoc& doc = m_doc;
    RunDocumentChange(
        UnderWay(command),
        [&doc, target, command, inputs](std::unique_ptr<XmlDocument> dom, ResultFor wanted) {
            return ComputeTreeCommand(doc, std::move(dom), target, command, inputs, wanted);
        },
        changedAt, InStepWithText() ? changed->textOffset() : CTreeItem::kNoOffset);
}

void CClassView::OnMatchCommand(const XPathQuery& query, TreeCommand command,
                                const CommandInputs& inputs, const std::string& firstMatch) {
    if (WorkUnderWay()) {
        return;
    }
    const CTreeItem* first = FindItemAt(m_items, firstMatch);
    const CTreeItem* changed = first != nullptr ? ChangedNode(command, first) : nullptr;
    const CDoc& doc = m_doc;
    RunDocumentChange(
        UnderWay(command),
        [&doc, query, command, inputs](std::unique_ptr<XmlDocument> dom, ResultFor wanted) {
            return ComputeMatchCommand(doc, std::move(dom), query, command, inputs, wanted);
        },
        PositionOf(changed),
        changed != nullptr && InStepWithText() ? changed->textOffset() : CTreeItem::kNoOffset);
}

void CClassView::OnFormatDocument(const std::string& indent) {
    if (WorkUnderWay()) {
        return;
    }
    const CDoc& doc = m_doc;
    RunDocumentChange(
        QStringLiteral("Formatting the document…"),
        [&doc, indent](std::unique_ptr<XmlDocument> dom, ResultFor wanted) {
            return ComputeFormatDocument(doc, std::move(dom), indent, wanted);
        },
        {0}, CTreeItem::kNoOffset);
}

void CClassView::RunDocumentChange(const QString& what, DocumentChange compute,
                                   const std::vector<int>& changedAt, std::size_t undoOffset) {
    if (!WorkApart()) {
        UndoCaretScope undoCaret(m_sourceView, undoOffset);
        TreeCommandResult result = compute(m_doc.TakeDom(), ResultFor::Dom);
        BuildItems(result);
        CTreeItems fresh;
        CommandOutcome outcome =
            ApplyTreeCommand(m_doc, fresh, std::move(result), m_doc.Messages(), this);
        if (outcome == CommandOutcome::Done) {
            ShowItems(std::move(fresh));
            ShowCommandDone(changedAt);
        }
        return;
    }
    // The change, the new text, its parse, the items, their rows and the
    // source pane's document, all apart; the worker is given the DOM and
    // values, the items shown stay the window's.
    auto work = std::make_shared<ChangedApart>();
    work->prepared = m_sourceView ? m_sourceView->PrepareText(m_doc.Text().size()) : PreparedText();
    auto dom = std::make_shared<std::unique_ptr<XmlDocument>>(m_doc.TakeDom());
    const bool started = m_work->Start(
        what,
        [this, work, dom, compute = std::move(compute), changedAt,
         undoOffset]() -> CBackgroundWork::Continuation {
            work->result = compute(std::move(*dom), ResultFor::Tree);
            BuildItems(work->result);
            if (work->result.outcome == CommandOutcome::Done) {
                work->rows = CTreeRows::Of(work->result.items);
                work->prepared.Fill(work->result.text);
            }
            return [this, work, changedAt, undoOffset] {
                ShowChangedApart(std::move(*work), changedAt, undoOffset);
            };
        },
        [this](const std::string&) {
            m_doc.RestoreDomFromText();
            m_doc.Messages().ShowMessage(kUnexpectedError);
        });
    if (!started) {
        m_doc.SetDom(std::move(*dom));
    }
}

void CClassView::ShowChangedApart(ChangedApart changed, const std::vector<int>& changedAt,
                                  std::size_t undoOffset) {
    UndoCaretScope undoCaret(m_sourceView, undoOffset);
    if (changed.result.outcome == CommandOutcome::Done && m_sourceView != nullptr) {
        m_sourceView->UsePreparedText(std::move(changed.prepared));
    }
    CTreeItems fresh;
    CommandOutcome outcome =
        ApplyTreeCommand(m_doc, fresh, std::move(changed.result), m_doc.Messages(), this);
    if (outcome == CommandOutcome::Done) {
        ShowItems(std::move(fresh), std::move(changed.rows));
        ShowCommandDone(changedAt);
    }
}

void CClassView::RegisterCommands() {
    const std::pair<int, TreeCommand> commands[] = {
        {ID_ADD_ATTRIBUTE, TreeCommand::AddAttribute},
        {ID_ADD_CHILD_ELEMENT, TreeCommand::AddChildElement},
        {ID_ADD_TEXT_NODE, TreeCommand::AddTextNode},
        {ID_RENAME_ELEMENT, TreeCommand::RenameElement},
        {ID_DELETE_ELEMENT_AND_CHILDREN, TreeCommand::DeleteElementAndChildren},
        {ID_DELETE_ELEMENT_ONLY, TreeCommand::DeleteElementOnly},
        {ID_ELEMENT_TO_ATTRIBUTE, TreeCommand::ElementToAttribute},
        {ID_DUPLICATE_ELEMENT_SUBTREE, TreeCommand::DuplicateElementSubTree},
        {ID_CHANGE_ATTRIBUTE_NAME, TreeCommand::ChangeAttributeName},
        {ID_CHANGE_ATTRIBUTE_VALUE, TreeCommand::ChangeAttributeValue},
        {ID_ATTRIBUTE_TO_ELEMENT, TreeCommand::AttributeToElement},
        {ID_DELETE_ATTRIBUTE, TreeCommand::DeleteAttribute},
        {ID_DELETE_TEXT_NODE, TreeCommand::DeleteTextNode},
        {ID_CHANGE_TEXT_VALUE, TreeCommand::ChangeTextValue},
    };
    for (auto [id, command] : commands) {
        On(
            id, [this, command = command] { OnTreeCommand(command); },
            [this, command = command] {
                return IsTreeCommandEnabled(command, m_current.nSelSelectedImage);
            });
    }
}

}  // namespace quorrel
