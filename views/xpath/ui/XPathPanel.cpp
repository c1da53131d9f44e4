#include "views/xpath/ui/XPathPanel.h"

#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSettings>
#include <QTableView>
#include <QTableWidget>

#include "doc/core/Disposal.h"
#include "doc/core/Doc.h"
#include "framework/ui/UserInterface.h"
#include "views/source/ui/DView.h"
#include "views/tree/core/ItemPath.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"
#include "views/window/ui/DocWindow.h"
#include "views/xpath/ui/XPathResultModel.h"

namespace quorrel {

namespace {

const QString kHistoryKey = QStringLiteral("XPath History");
constexpr int kDeclaredRole = Qt::UserRole + 1;  // the prefix the document declares

QString FromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// "1,204"
QString Grouped(std::size_t n) {
    QString digits = QString::number(qulonglong(n));
    for (int at = int(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    return digits;
}

QString ValueText(const XPathResult& result) {
    switch (result.type()) {
        case XPathValueType::NodeSet:
            if (result.size() == 0) {
                return QStringLiteral("No node matches.");
            }
            return QStringLiteral("%1 %2").arg(
                Grouped(result.size()),
                result.size() == 1 ? QStringLiteral("node") : QStringLiteral("nodes"));
        case XPathValueType::Boolean:
            return QStringLiteral("Boolean: ") + FromStd(result.string());
        case XPathValueType::Number:
            return QStringLiteral("Number: ") + FromStd(result.string());
        case XPathValueType::String:
            return QStringLiteral("String: \"") + FromStd(result.string()) + QLatin1Char('"');
    }
    return {};
}

bool IsFindKey(const QKeyEvent* key) {
    return key->key() == Qt::Key_F3 &&
           (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::ShiftModifier);
}

bool IsPanelKey(const QKeyEvent* key) {
    return IsFindKey(key) || (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier);
}

}  // namespace

struct CXPathPanel::Evaluated {
    XPathOutcome outcome;
    std::vector<NamespaceBinding> declared;
    XPathQuery query;
    std::string parseError;  // the text does not parse
};

CXPathPanel::CXPathPanel(CDocWindow& frame, CDoc& doc, UserInterface& ui, QSettings& settings)
    : QDockWidget(QStringLiteral("Find by XPath"), &frame.HostWindow()),
      m_frame(frame),
      m_doc(doc),
      m_ui(ui),
      m_settings(settings) {
    setObjectName(QStringLiteral("xpathPanel"));
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    setWidget(Build());
    m_execMenu = [](QMenu& menu, const QPoint& at) { return menu.exec(at); };
    m_execDialog = [](QDialog& dialog) { return dialog.exec(); };
    m_history = m_settings.value(kHistoryKey).toStringList().mid(0, kHistory);
    m_expression->addItems(m_history);
    m_expression->setCurrentIndex(-1);
    // Fresh items: the rows' tree items and places are the old text's.
    connect(frame.TreeView(), &CClassView::itemsShown, this, [this] {
        m_stale = true;
        if (m_result) {
            ShowStatus(
                QStringLiteral("The document has changed since the expression was "
                               "evaluated: press Enter to evaluate it again."));
        }
    });
    for (QWidget* w : findChildren<QWidget*>()) {
        w->installEventFilter(this);
    }
    installEventFilter(this);
    hide();
}

CXPathPanel::~CXPathPanel() = default;

void CXPathPanel::Open() {
    show();
    raise();
    // A large document's declarations are read when it is evaluated, apart.
    if (!WorkApart() && m_doc.GetDomState() == CDoc::DomState::Whole &&
        m_doc.Dom().parseError().line == 0 && m_doc.Dom().parsedFrom(m_doc.Text())) {
        FillPrefixes(DocumentNamespaces(m_doc.Dom()));
    }
    m_expression->setFocus(Qt::ShortcutFocusReason);
    m_expression->lineEdit()->selectAll();
}

bool CXPathPanel::WorkApart() const {
    return m_doc.Text().size() >= CBackgroundWork::kApartFrom;
}

void CXPathPanel::Remember(const QString& expression) {
    m_history.removeAll(expression);
    m_history.prepend(expression);
    while (m_history.size() > kHistory) {
        m_history.removeLast();
    }
    m_settings.setValue(kHistoryKey, m_history);
    QSignalBlocker block(m_expression);
    m_expression->clear();
    m_expression->addItems(m_history);
    m_expression->setCurrentIndex(0);
}

void CXPathPanel::ShowStatus(const QString& text, bool error) {
    m_status->setText(text);
    m_status->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
}

void CXPathPanel::ClearResult() {
    m_result.reset();
    m_model->SetResult(nullptr);
    m_count->clear();
}

void CXPathPanel::SetEvaluating(bool evaluating, bool cancellable) {
    m_evaluating = evaluating;
    m_busy->setVisible(evaluating);
    m_cancelButton->setVisible(evaluating && cancellable);
    m_run->setEnabled(!evaluating);
}

void CXPathPanel::Evaluate() {
    const QString expression = m_expression->currentText().trimmed();
    if (expression.isEmpty()) {
        ShowStatus(QStringLiteral("Type an XPath expression, then press Enter."));
        return;
    }
    if (m_evaluating) {
        return;
    }
    if (m_frame.IsBusy()) {
        ShowStatus(QStringLiteral("Other work is under way: evaluate once it has ended."), true);
        return;
    }
    Remember(expression);
    m_doc.SyncText();
    if (m_doc.IsTextChanged()) {
        // Typed since the last parse: parsed again first, as a click into the tree does.
        m_frame.TreeView()->OnActivateView(true, true);
        if (m_frame.Work().IsRunning()) {
            ShowStatus(QStringLiteral("Parsing the text first…"));
            SetEvaluating(true, false);
            auto once = std::make_shared<QMetaObject::Connection>();
            *once = connect(&m_frame.Work(), &CBackgroundWork::finished, this,
                            [this, once, expression] {
                                disconnect(*once);
                                SetEvaluating(false, false);
                                EvaluateParsed(expression);
                            });
            return;
        }
    }
    EvaluateParsed(expression);
}

void CXPathPanel::EvaluateParsed(const QString& expression) {
    std::vector<NamespaceBinding> given;
    if (!GivenPrefixes(given)) {
        emit evaluated();
        return;
    }
    if (m_doc.Text().empty()) {
        ClearResult();
        ShowStatus(QStringLiteral("The document is empty: there is nothing to evaluate on."), true);
        emit evaluated();
        return;
    }
    ShowStatus(QString());
    auto cancel = std::make_shared<XPathCancel>();
    m_cancel = cancel;
    const std::string text = expression.toStdString();
    const bool started = OnWholeDom(
        QStringLiteral("Evaluating the XPath expression…"),
        [this, text, given, cancel](XmlDocument& dom,
                                    std::string_view source) -> CBackgroundWork::Continuation {
            auto out = std::make_shared<Evaluated>();
            if (dom.parseError().line > 0) {
                out->parseError = dom.parseError().reason;
            } else {
                out->declared = DocumentNamespaces(dom);
                out->query = {text, MergeNamespaces(out->declared, given)};
                out->outcome = EvaluateXPath(dom, source, out->query, cancel.get());
            }
            return [this, out] { ShowEvaluated(std::move(*out)); };
        },
        true);
    if (!started) {
        m_cancel.reset();
        ShowStatus(QStringLiteral("Other work is under way: evaluate once it has ended."), true);
        emit evaluated();
    }
}

bool CXPathPanel::OnWholeDom(const QString& what, WholeDomWork fn, bool cancellable) {
    const CDoc& doc = m_doc;
    // The document's DOM when it is the whole text's; otherwise one parsed here.
    auto whole = [&doc](XmlDocument* dom, std::string_view text,
                        std::unique_ptr<XmlDocument>& own) -> XmlDocument& {
        if (dom != nullptr && !dom->hollow() && dom->parsedFrom(text)) {
            return *dom;
        }
        own = std::make_unique<XmlDocument>();
        doc.ParseText(*own, text);
        return *own;
    };
    // What a hollow DOM (or none) lacked, the one parsed here has: the
    // document keeps that one. A stale whole DOM (not the text's) is not
    // replaced: what made it may still need it as it is.
    auto keep = [](std::unique_ptr<XmlDocument>& kept, std::unique_ptr<XmlDocument>& own) {
        if (own && (!kept || kept->hollow())) {
            DisposeOf(std::move(kept));
            kept = std::move(own);
        }
        DisposeOf(std::move(own));  // freed apart, not on the window's thread
    };
    if (!WorkApart()) {
        std::unique_ptr<XmlDocument> own;
        XmlDocument& dom = whole(m_doc.HasDom() ? &m_doc.Dom() : nullptr, m_doc.Text(), own);
        CBackgroundWork::Continuation then = fn(dom, m_doc.Text());
        std::unique_ptr<XmlDocument> kept = m_doc.TakeDom();
        keep(kept, own);
        m_doc.SetDom(std::move(kept));
        then();
        return true;
    }
    // The worker has the DOM until the job ends; the text is read-only meanwhile.
    auto holder = std::make_shared<std::unique_ptr<XmlDocument>>(m_doc.TakeDom());
    const std::string_view text = m_doc.Text();
    SetEvaluating(true, cancellable);
    const bool started = m_frame.Work().Start(
        what,
        [this, holder, text, whole, keep, fn]() -> CBackgroundWork::Continuation {
            std::unique_ptr<XmlDocument> own;
            CBackgroundWork::Continuation then = fn(whole(holder->get(), text, own), text);
            keep(*holder, own);
            return [this, holder, then] {
                m_doc.SetDom(std::move(*holder));
                SetEvaluating(false, false);
                then();
            };
        },
        [this, holder](const std::string& error) {
            m_doc.SetDom(std::move(*holder));
            SetEvaluating(false, false);
            ShowStatus(QString::fromStdString(error), true);
            emit evaluated();
        });
    if (!started) {
        m_doc.SetDom(std::move(*holder));
        SetEvaluating(false, false);
    }
    return started;
}

void CXPathPanel::ShowEvaluated(Evaluated evaluated) {
    // Cancelled after the worker was done: what it found is not shown either.
    if (m_cancel && m_cancel->cancelled()) {
        evaluated.outcome.status = XPathStatus::Cancelled;
    }
    m_cancel.reset();
    if (!evaluated.parseError.empty()) {
        ClearResult();
        ShowStatus(QStringLiteral("The text does not parse, so the expression was not "
                                  "evaluated: ") +
                       QString::fromStdString(evaluated.parseError).trimmed(),
                   true);
        emit this->evaluated();
        return;
    }
    FillPrefixes(evaluated.declared);
    switch (evaluated.outcome.status) {
        case XPathStatus::Cancelled:
            ClearResult();
            ShowStatus(QStringLiteral("The evaluation was cancelled."));
            break;
        case XPathStatus::Failed:
            ClearResult();
            ShowStatus(
                FromStd(DescribeXPathError(evaluated.outcome.error, evaluated.query.expression)),
                true);
            break;
        case XPathStatus::Done:
            m_query = std::move(evaluated.query);
            m_result = std::make_shared<const XPathResult>(std::move(evaluated.outcome.result));
            m_model->SetResult(m_result);
            m_stale = false;
            m_count->setText(ValueText(*m_result));
            ShowStatus(QString());
            break;
    }
    emit this->evaluated();
}

bool CXPathPanel::GivenPrefixes(std::vector<NamespaceBinding>& given) {
    given.clear();
    for (int r = 0; r < m_prefixes->rowCount(); ++r) {
        const QTableWidgetItem* p = m_prefixes->item(r, 0);
        const QTableWidgetItem* u = m_prefixes->item(r, 1);
        const QString prefix = p != nullptr ? p->text().trimmed() : QString();
        const QString uri = u != nullptr ? u->text().trimmed() : QString();
        if (prefix.isEmpty()) {
            continue;  // a default namespace with no prefix given, or an empty row
        }
        std::optional<NamespaceBinding> binding =
            uri.isEmpty() ? std::nullopt
                          : ParseNamespaceBinding((prefix + '=' + uri).toStdString());
        if (!binding) {
            ShowStatus(uri.isEmpty()
                           ? QStringLiteral("The prefix \"%1\" has no namespace.").arg(prefix)
                           : QStringLiteral("\"%1\" is not a prefix: it must be an XML name "
                                            "without a colon.")
                                 .arg(prefix),
                       true);
            return false;
        }
        given.push_back(std::move(*binding));
    }
    return true;
}

void CXPathPanel::FillPrefixes(const std::vector<NamespaceBinding>& declared) {
    struct Row {
        QVariant declared;  // null: a row the user added
        QString prefix, uri;
    };
    std::vector<Row> old;
    for (int r = 0; r < m_prefixes->rowCount(); ++r) {
        const QTableWidgetItem* p = m_prefixes->item(r, 0);
        const QTableWidgetItem* u = m_prefixes->item(r, 1);
        Row row{p != nullptr ? p->data(kDeclaredRole) : QVariant(),
                p != nullptr ? p->text().trimmed() : QString(),
                u != nullptr ? u->text().trimmed() : QString()};
        if (row.declared.isValid() || !row.prefix.isEmpty() || !row.uri.isEmpty()) {
            old.push_back(std::move(row));
        }
    }
    QSignalBlocker block(m_prefixes);
    m_prefixes->setRowCount(0);
    auto add = [this](const QString& prefix, const QString& uri, const QVariant& from) {
        const int r = m_prefixes->rowCount();
        m_prefixes->insertRow(r);
        auto* p = new QTableWidgetItem(prefix);
        p->setData(kDeclaredRole, from);
        auto* u = new QTableWidgetItem(uri);
        if (from.isValid()) {
            u->setFlags(u->flags() & ~Qt::ItemIsEditable);  // the document's own
        }
        m_prefixes->setItem(r, 0, p);
        m_prefixes->setItem(r, 1, u);
    };
    for (const NamespaceBinding& d : declared) {
        const QString prefix = FromStd(d.prefix), uri = FromStd(d.uri);
        QString shown = prefix;
        for (const Row& o : old) {
            if (o.declared.isValid() && o.declared.toString() == prefix && o.uri == uri) {
                shown = o.prefix;  // as the user gave it
            }
        }
        add(shown, uri, prefix);
    }
    for (const Row& o : old) {
        if (!o.declared.isValid()) {
            add(o.prefix, o.uri, QVariant());
        }
    }
    m_prefixes->insertRow(m_prefixes->rowCount());
}

bool CXPathPanel::ResultHolds() const {
    return m_result != nullptr && !m_stale && m_frame.TreeView()->InStepWithText();
}

void CXPathPanel::Choose(int row) {
    if (!m_result || row < 0 || row >= m_model->rowCount()) {
        return;
    }
    {
        QScopedValueRollback<bool> choosing(m_choosing, true);
        m_results->setCurrentIndex(m_model->index(row, 0));
        m_results->scrollTo(m_model->index(row, 0));
    }
    if (!ResultHolds()) {
        ShowStatus(
            QStringLiteral("The document has changed since the expression was evaluated: "
                           "press Enter to evaluate it again."));
        return;
    }
    const XPathRow node = m_result->row(std::size_t(row));
    CClassView& tree = *m_frame.TreeView();
    const CTreeItem* item =
        node.treeItem.empty() ? nullptr : FindItemAt(tree.Items(), node.treeItem);
    if (item != nullptr) {
        // As a click on the item: the tree selects it, the caret goes to its node.
        const QModelIndex index = tree.Model()->Reveal(item);
        if (tree.currentIndex() == index) {
            emit tree.itemChosen(item);
        } else {
            tree.setCurrentIndex(index);
        }
        tree.scrollTo(index);
    } else if (node.offset != XPathRow::kNoOffset) {
        // No item (a processing instruction): the caret alone, and the tree follows it.
        m_frame.SourceView()->ShowOffset(node.offset);
    }
}

void CXPathPanel::ChooseNext(int step) {
    const int rows = m_model->rowCount();
    if (rows == 0) {
        return;
    }
    const int current = m_results->currentIndex().row();
    const int next =
        current < 0 ? (step > 0 ? 0 : rows - 1) : ((current + step) % rows + rows) % rows;
    Choose(next);
}

bool CXPathPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) {
        return QDockWidget::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // F3 and Esc are the panel's here, not the window's Find Next.
        if (IsPanelKey(key)) {
            event->accept();
            return true;
        }
        return false;
    }
    if (IsFindKey(key)) {
        ChooseNext(key->modifiers() == Qt::ShiftModifier ? -1 : 1);
        return true;
    }
    if (IsPanelKey(key)) {
        // Hiding moves the focus on, which may make another pane the active one.
        QWidget* back = m_frame.ActiveView();
        hide();
        m_frame.SetActivePane(back);
        return true;
    }
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && watched == m_results) {
        Choose(m_results->currentIndex().row());
        return true;
    }
    // Taken before the box sees it: it would choose a history entry as well.
    if (enter && (watched == m_expression || watched == m_expression->lineEdit())) {
        Evaluate();
        return true;
    }
    return false;
}

}  // namespace quorrel
