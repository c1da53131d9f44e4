// The panel's work on the nodes it found: a tree command on every match,
// and the copied XPath and item path of a node.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

#include "doc/core/Doc.h"
#include "edit/core/MatchCommands.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/Commands.h"
#include "framework/ui/UserInterface.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/ui/ClassView.h"
#include "views/window/ui/DocWindow.h"
#include "views/xpath/ui/XPathPanel.h"

namespace quorrel {

namespace {

QString FromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// "0.2.1": the item's rows from the top item down.
std::string PositionOf(const CTreeItem* item) {
    std::string position;
    for (const CTreeItem* i = item; i != nullptr; i = i->parent()) {
        position.insert(0, (i->parent() != nullptr ? "." : "") + std::to_string(i->row()));
    }
    return position;
}

}  // namespace

void CXPathPanel::OnRunCommand() {
    if (m_evaluating || m_frame.IsBusy()) {
        return;
    }
    if (!ResultHolds()) {
        m_ui.ShowMessage(m_result ? "The document has changed since the expression was evaluated: "
                                    "evaluate it again first."
                                  : "Evaluate an expression first: the command runs on the "
                                    "nodes it finds.");
        return;
    }
    const std::optional<XPathNodeKind> kind = m_result->singleKind();
    const std::vector<TreeCommand> commands =
        kind ? CommandsForKind(*kind) : std::vector<TreeCommand>();
    if (commands.empty()) {
        // Why not: a scalar, no node, mixed kinds, or a kind no command acts on.
        m_ui.ShowMessage(PlanMatchCommand(*m_result, TreeCommand::RenameElement).message);
        return;
    }
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("matchCommandMenu"));
    for (TreeCommand c : commands) {
        const CommandText* text = FindCommand(int(c));
        QAction* action = menu.addAction(text != nullptr ? QString::fromUtf8(text->menuText)
                                                         : QString::number(int(c)));
        action->setData(int(c));
    }
    QAction* chosen = m_execMenu(menu, m_run->mapToGlobal(QPoint(0, m_run->height())));
    if (chosen == nullptr) {
        return;
    }
    const auto command = TreeCommand(chosen->data().toInt());
    const MatchPlan plan = PlanMatchCommand(*m_result, command);
    if (plan.refusal != MatchRefusal::None) {
        m_ui.ShowMessage(plan.message);
        return;
    }
    std::unique_ptr<CTreeCommandDlg> dialog = CreateTreeCommandDialog(command, window());
    if (QCheckBox* all = dialog->AllOccurrences()) {
        // The matches are the occurrences.
        all->setChecked(false);
        all->setEnabled(false);
    }
    if (m_execDialog(*dialog) != QDialog::Accepted) {
        return;
    }
    CommandInputs inputs = dialog->Inputs();
    inputs.allOccurrences = false;
    dialog.reset();
    if (!m_ui.AskYesNo(FromStd(MatchConfirmation(command, plan.count)))) {
        return;
    }
    const std::string first(m_result->row(0).treeItem);
    m_frame.TreeView()->OnMatchCommand(m_query, command, inputs, first);
}

void CXPathPanel::CopyText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

void CXPathPanel::AddCopyActions(QMenu& menu, const CTreeItem* item) {
    if (item == nullptr) {
        return;
    }
    menu.addSeparator();
    QAction* xpath = menu.addAction(QStringLiteral("Copy XPath"));
    xpath->setObjectName(QStringLiteral("copyXPath"));
    QAction* path = menu.addAction(QStringLiteral("Copy Item Path"));
    path->setObjectName(QStringLiteral("copyItemPath"));
    // The DOM is the text's only while the items are.
    xpath->setEnabled(m_frame.TreeView()->InStepWithText() && !m_frame.IsBusy());
    const std::string itemPath = ShownItemPath(item);
    const std::string position = PositionOf(item);
    connect(path, &QAction::triggered, this, [this, itemPath] { CopyText(itemPath); });
    connect(xpath, &QAction::triggered, this, [this, position] {
        std::vector<NamespaceBinding> given;
        if (!GivenPrefixes(given)) {
            return;
        }
        OnWholeDom(
            QStringLiteral("Finding the node's XPath…"),
            [this, position, given](XmlDocument& dom,
                                    std::string_view) -> CBackgroundWork::Continuation {
                std::string found;
                if (dom.parseError().line == 0) {
                    if (XmlNode node = NodeAtTreeItem(dom, position)) {
                        found =
                            AbsoluteXPath(node, MergeNamespaces(DocumentNamespaces(dom), given));
                    }
                }
                return [this, found] {
                    if (!found.empty()) {
                        CopyText(found);
                    }
                };
            },
            false);
    });
}

void CXPathPanel::ShowResultMenu(const QPoint& at) {
    const QModelIndex index = m_results->indexAt(at);
    if (!m_result || !index.isValid()) {
        return;
    }
    const XPathRow node = m_result->row(std::size_t(index.row()));
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("resultMenu"));
    QAction* xpath = menu.addAction(QStringLiteral("Copy XPath"));
    xpath->setObjectName(QStringLiteral("copyXPath"));
    xpath->setEnabled(!node.xpath.empty());
    QAction* path = menu.addAction(QStringLiteral("Copy Item Path"));
    path->setObjectName(QStringLiteral("copyItemPath"));
    path->setEnabled(!node.itemPath.empty());
    QAction* chosen = m_execMenu(menu, m_results->viewport()->mapToGlobal(at));
    if (chosen == xpath) {
        CopyText(std::string(node.xpath));
    } else if (chosen == path) {
        CopyText(std::string(node.itemPath));
    }
}

}  // namespace quorrel
