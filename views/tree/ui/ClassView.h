// The tree pane: the document's DOM as tree items.
#pragma once

#include <QTreeView>

#include "app/ui/CommandTarget.h"
#include "doc/core/Doc.h"
#include "views/tree/core/TreeItems.h"

namespace quorrel {

class TreeModel;

class CClassView : public QTreeView, public CDocView, public CommandTarget {
    Q_OBJECT
public:
    CClassView(CDoc& doc, QWidget* parent);
    ~CClassView() override;

    // The document's broadcast: with a sender the text is parsed again.
    void OnUpdate(CDocView* sender) override;
    // activate: this pane became active; fromOtherKind: the previous one was not a tree view.
    void OnActivateView(bool activate, bool fromOtherKind);

    const CTreeItems& Items() const { return m_items; }
    CTreeItems& Items() { return m_items; }
    // Rebuilds the view from the items (after they changed) and applies their expansion.
    void ShowItems();

signals:
    void activated();
    // A parse ended; error is null when it succeeded.
    void parsed(const quorrel::ParseError* error);

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    void Refresh(bool reparse);

    CDoc& m_doc;
    CTreeItems m_items;
    TreeModel* m_model;
};

}  // namespace quorrel
