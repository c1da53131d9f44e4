// Xml > Find by XPath: a panel below the two panes with the expression (and
// its history), the namespace prefixes it may use and the nodes it finds.
// Choosing a node shows it in both panes; a tree command may run on every
// node found, as one command.
#pragma once

#include <QDockWidget>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "doc/core/XPath.h"
#include "framework/ui/BackgroundWork.h"

class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSettings;
class QTableView;
class QTableWidget;

namespace quorrel {

class CDoc;
class CDocWindow;
class CTreeItem;
class UserInterface;
class XPathResultModel;

class CXPathPanel : public QDockWidget {
    Q_OBJECT
public:
    // The expressions remembered, newest first.
    static constexpr int kHistory = 20;

    CXPathPanel(CDocWindow& frame, CDoc& doc, UserInterface& ui, QSettings& settings);
    ~CXPathPanel() override;

    // Shows the panel with the expression field focused.
    void Open();
    // Evaluates the expression field's text on the document as parsed (the
    // text parsed first when it changed since); apart on a large document.
    void Evaluate();
    // Shows the result's row in both panes.
    void Choose(int row);
    // F3 (step 1) and Shift+F3 (step -1), round the list.
    void ChooseNext(int step);
    // "Run a command on the matches...".
    void OnRunCommand();
    // The tree's context menu: "Copy XPath" and "Copy Item Path" for the item.
    void AddCopyActions(QMenu& menu, const CTreeItem* item);

    QComboBox* ExpressionField() const { return m_expression; }
    QTableWidget* PrefixTable() const { return m_prefixes; }
    QTableView* ResultView() const { return m_results; }
    XPathResultModel* ResultModel() const { return m_model; }
    // The count, or a scalar's value.
    QLabel* CountLabel() const { return m_count; }
    // Errors and notes: a bad expression, a text that does not parse.
    QLabel* StatusLabel() const { return m_status; }
    QPushButton* RunButton() const { return m_run; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QProgressBar* BusyBar() const { return m_busy; }
    QStringList History() const { return m_history; }
    // The query the shown result came from.
    const XPathQuery& Query() const { return m_query; }
    bool Evaluating() const { return m_evaluating; }

    // How menus and dialogs are shown; the tests replace them.
    std::function<QAction*(QMenu& menu, const QPoint& at)> m_execMenu;
    std::function<int(QDialog& dialog)> m_execDialog;

signals:
    // An evaluation has ended (a result, an error, a cancel).
    void evaluated();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs fn on a DOM of the whole text: the document's when it holds the
    // whole text, else one parsed for it, which the document then keeps in
    // place of a hollow DOM (or none), so that the next run parses nothing.
    // On a large document as a job of the window's runner, the DOM handed to
    // it and back. fn only reads the DOM, and gives what to do on the
    // window's thread. False when other work holds the runner.
    using WholeDomWork =
        std::function<CBackgroundWork::Continuation(XmlDocument& dom, std::string_view text)>;
    bool OnWholeDom(const QString& what, WholeDomWork fn, bool cancellable);
    void EvaluateParsed(const QString& expression);
    struct Evaluated;
    void ShowEvaluated(Evaluated evaluated);
    void ShowStatus(const QString& text, bool error = false);
    void ClearResult();
    // The busy bar (and the Cancel button) while work runs apart.
    void SetEvaluating(bool evaluating, bool cancellable);
    void Remember(const QString& expression);
    // The prefixes given in the table; false (and a note) when one is no prefix.
    bool GivenPrefixes(std::vector<NamespaceBinding>& given);
    // The document's declarations into the table, keeping the prefixes
    // given to them and the rows added.
    void FillPrefixes(const std::vector<NamespaceBinding>& declared);
    // The shown rows stand for the tree and the text as they are.
    bool ResultHolds() const;
    void CopyText(const std::string& text);
    void ShowResultMenu(const QPoint& at);
    bool WorkApart() const;
    QWidget* Build();

    CDocWindow& m_frame;
    CDoc& m_doc;
    UserInterface& m_ui;
    QSettings& m_settings;
    QComboBox* m_expression = nullptr;
    QTableWidget* m_prefixes = nullptr;
    QTableView* m_results = nullptr;
    XPathResultModel* m_model = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_run = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QProgressBar* m_busy = nullptr;
    QStringList m_history;
    std::shared_ptr<const XPathResult> m_result;
    XPathQuery m_query;
    std::shared_ptr<XPathCancel> m_cancel;  // of the evaluation under way
    bool m_evaluating = false;
    bool m_stale = false;  // fresh items were shown since the result was
    bool m_choosing = false;
};

}  // namespace quorrel
