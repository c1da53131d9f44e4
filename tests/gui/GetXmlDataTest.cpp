// The two database dialogs and Data Source > Get Xml Data in the real window,
// offscreen, against the sample data source QuorrelSample.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "db/ui/AttrElemDlg.h"
#include "db/ui/DataSourceDlg.h"
#include "db/ui/EditListCtrl.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "doc/ui/UrlDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "tests/support/LoopbackHttpServer.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;

namespace {

// Answers the modal dialogs a command opens, in order, as a user would; a
// dialog nobody expected is cancelled and noted.
class DialogScript : public QObject {
public:
    using Step = std::function<void(QDialog*)>;

    DialogScript() {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &DialogScript::Poll);
        m_timer.start();
    }
    void Then(Step step) { m_steps.push_back(std::move(step)); }

    QStringList shown;       // titles, in order
    QStringList unexpected;  // titles of dialogs no step was left for

private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        for (const QPointer<QDialog>& seen : m_handled) {
            if (seen == dialog) {
                return;  // a step left it open on purpose
            }
        }
        m_handled.push_back(dialog);
        shown << dialog->windowTitle();
        if (m_steps.empty()) {
            unexpected << dialog->windowTitle();
            dialog->reject();
            return;
        }
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        step(dialog);
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    std::vector<QPointer<QDialog>> m_handled;
};

struct Session : TestWindow {
    explicit Session(const QString& file = QStringLiteral(QUORREL_SAMPLE)) { Start(file); }
};

int CountItems(const CTreeItems& items) {
    return int(items.Count());
}

int CountLabelled(const CTreeItems& items, std::string_view label) {
    int count = 0;
    VisitItems(items, [&](const CTreeItem& item, int) { count += item.label() == label ? 1 : 0; });
    return count;
}

void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Delete);
    } else {
        QTest::keyClicks(edit, text);
    }
}

// Fills the data source dialog and presses OK.
DialogScript::Step FillSource(const QString& dsn, const QString& query, const QString& maxRows = {},
                              const QString& user = {}, const QString& password = {}) {
    return [=](QDialog* dialog) {
        auto* d = qobject_cast<CDataSourceDlg*>(dialog);
        QVERIFY(d != nullptr);
        Type(d->DsnEdit(), dsn);
        Type(d->UserEdit(), user);
        Type(d->PasswordEdit(), password);
        Type(d->QueryEdit(), query);
        if (!maxRows.isEmpty()) {
            Type(d->MaxRowsEdit(), maxRows);
        }
        QTest::mouseClick(d->OkButton(), Qt::LeftButton);
    };
}

DialogScript::Step Press(bool ok) {
    return [ok](QDialog* dialog) {
        auto* button = dialog->findChild<QPushButton*>(ok ? QStringLiteral("okButton")
                                                          : QStringLiteral("cancelButton"));
        QVERIFY(button != nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    };
}

// Edits an item's label in place: F2, the text, then Enter (or Escape).
void EditLabel(CEditListCtrl* list, int row, int column, const QString& text, bool commit = true) {
    list->setCurrentIndex(list->model()->index(row, column));
    QTest::keyClick(list, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(list->indexWidget(list->model()->index(row, 0)));
    QVERIFY(editor != nullptr);
    QVERIFY(list->indexWidget(list->model()->index(row, 1)) == nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, commit ? Qt::Key_Return : Qt::Key_Escape);
    QCoreApplication::processEvents();
}

// Name, text, DOM and tree of a document, to see that a command left them alone.
struct Snapshot {
    explicit Snapshot(Session& s)
        : path(s.doc().GetPathName()),
          text(s.source().Text()),
          dom(s.doc().HasDom() ? &s.doc().Dom() : nullptr),
          items(CountItems(s.tree().Items())),
          title(s.frame().windowTitle()) {}
    bool operator==(const Snapshot&) const = default;
    std::string path, text;
    const XmlDocument* dom;
    int items;
    QString title;
};

}  // namespace

class GetXmlDataTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:
    void initTestCase() {
        // The driver manager reads these before its first environment handle.
        qputenv("ODBCSYSINI", QUORREL_ODBC_FIXTURE_DIR);
        qputenv("ODBCINI", QUORREL_ODBC_FIXTURE_DIR "/user.ini");
    }

    void dataSourceDialogFieldsLimitsAndKeyboard() {
        ScriptedUi ui;
        CDataSourceDlg d(ui);
        d.m_strDsn = "QuorrelSample";
        d.m_strUser = "ann";
        d.m_strPassword = "pw";
        d.m_strQuery = "SELECT * FROM products";
        d.m_nMaxRows = 500;
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(d.windowTitle(), QStringLiteral("ODBC Data Source"));
        QStringList prompts;
        for (QLabel* label : d.findChildren<QLabel*>()) {
            prompts << label->text();
        }
        for (const char* prompt :
             {"DSN (Data Source):", "User:", "Password:", "SQL Query:", "Max # of Rows:"}) {
            QVERIFY2(prompts.contains(QString::fromUtf8(prompt)), prompt);
        }
        QCOMPARE(d.DsnEdit()->text(), QStringLiteral("QuorrelSample"));
        QCOMPARE(d.UserEdit()->text(), QStringLiteral("ann"));
        QCOMPARE(d.PasswordEdit()->text(), QStringLiteral("pw"));
        QCOMPARE(d.PasswordEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(d.QueryEdit()->text(), QStringLiteral("SELECT * FROM products"));
        QCOMPARE(d.MaxRowsEdit()->text(), QStringLiteral("500"));
        QCOMPARE(d.OkButton()->text(), QStringLiteral("OK"));
        QVERIFY(d.OkButton()->isDefault());
        QCOMPARE(d.CancelButton()->text(), QStringLiteral("Cancel"));

        // No more can be typed than a field holds.
        Type(d.DsnEdit(), QString(25, QLatin1Char('d')));
        QCOMPARE(d.DsnEdit()->text().size(), 20);
        Type(d.UserEdit(), QString(25, QLatin1Char('u')));
        QCOMPARE(d.UserEdit()->text().size(), 20);
        Type(d.PasswordEdit(), QString(25, QLatin1Char('p')));
        QCOMPARE(d.PasswordEdit()->text().size(), 20);
        Type(d.QueryEdit(), QStringLiteral("SELECT ") + QString(310, QLatin1Char('q')));
        QCOMPARE(d.QueryEdit()->text().size(), 300);

        // The statement has the focus first; Tab follows the resource's order.
        d.QueryEdit()->setFocus();
        QCOMPARE(QApplication::focusWidget(), d.QueryEdit());
        QList<QWidget*> order{d.OkButton(),     d.CancelButton(), d.DsnEdit(),  d.UserEdit(),
                              d.PasswordEdit(), d.MaxRowsEdit(),  d.QueryEdit()};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }

    void dataSourceDialogOpensOnTheStatement() {
        ScriptedUi ui;
        CDataSourceDlg d(ui);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(QApplication::focusWidget(), d.QueryEdit());
        QCOMPARE(d.MaxRowsEdit()->text(), QStringLiteral("0"));  // as constructed
        QVERIFY(d.DsnEdit()->text().isEmpty());
    }

    void dataSourceDialogRowLimit() {
        ScriptedUi ui;
        CDataSourceDlg d(ui);
        d.m_nMaxRows = 500;
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        const std::string range = "Please enter an integer between 0 and 600.";
        const std::string integer = "Please enter an integer.";
        struct Case {
            const char* text;
            std::string message;
        };
        for (const Case& c : {Case{"601", range}, Case{"-1", range}, Case{"abc", integer},
                              Case{"", integer}, Case{"1.5", integer}}) {
            ui.messages.clear();
            Type(d.MaxRowsEdit(), QString::fromUtf8(c.text));
            QTest::mouseClick(d.OkButton(), Qt::LeftButton);
            QCOMPARE(ui.messages, std::vector<std::string>{c.message});
            QVERIFY2(d.isVisible(), c.text);  // the dialog stays open
            QCOMPARE(QApplication::focusWidget(), d.MaxRowsEdit());
            QCOMPARE(d.m_nMaxRows, 500);
        }
        ui.messages.clear();
        Type(d.DsnEdit(), QStringLiteral("QuorrelSample"));
        Type(d.MaxRowsEdit(), QStringLiteral("600"));
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
        QVERIFY(ui.messages.empty());
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.m_nMaxRows, 600);
        QCOMPARE(d.m_strDsn, std::string("QuorrelSample"));

        CDataSourceDlg zero(ui);
        zero.show();
        Type(zero.MaxRowsEdit(), QStringLiteral("0"));
        QTest::keyClick(zero.MaxRowsEdit(), Qt::Key_Return);  // the default button
        QCOMPARE(zero.result(), int(QDialog::Accepted));
        QCOMPARE(zero.m_nMaxRows, 0);
        QVERIFY(ui.messages.empty());
    }

    void dataSourceDialogCancelChangesNothing() {
        ScriptedUi ui;
        CDataSourceDlg d(ui);
        d.m_strDsn = "before";
        d.m_nMaxRows = 500;
        d.show();
        Type(d.DsnEdit(), QStringLiteral("after"));
        Type(d.MaxRowsEdit(), QStringLiteral("7"));
        QTest::mouseClick(d.CancelButton(), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(d.m_strDsn, std::string("before"));
        QCOMPARE(d.m_nMaxRows, 500);
    }

    void mappingDialogListsAndEditsChoices() {
        std::vector<std::string> names{"ID", "NAME", "PRICE"};
        CAttrElemDlg d(names);
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QVERIFY(names.empty());  // taken out when the dialog opens
        QCOMPARE(d.windowTitle(), QStringLiteral("Attribute/Element"));
        QStringList texts;
        for (QLabel* label : d.findChildren<QLabel*>()) {
            texts << label->text();
        }
        QVERIFY(texts.contains(
            QStringLiteral("Edit the A/E Column and specify Xml Attribute or Element")));
        QVERIFY(texts.contains(QStringLiteral("Enter A for Attribute and E for Element")));
        CEditListCtrl* list = d.m_listCtrl;
        QCOMPARE(list->objectName(), QStringLiteral("list1001"));
        QCOMPARE(list->headerItem()->text(0), QStringLiteral("A/E"));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Column Name"));
        QCOMPARE(list->columnWidth(0), 45);
        QCOMPARE(list->columnWidth(1), 138);
        QCOMPARE(list->GetItemCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(list->GetItemText(row, 0), QStringLiteral("E"));
        }
        QCOMPARE(list->GetItemText(0, 1), QStringLiteral("ID"));
        QCOMPARE(list->GetItemText(1, 1), QStringLiteral("NAME"));
        QCOMPARE(list->GetItemText(2, 1), QStringLiteral("PRICE"));

        // F2 from the name column edits the label; Enter ends the edit, not the dialog.
        EditLabel(list, 0, 1, QStringLiteral("a"));
        QVERIFY(d.isVisible());
        QCOMPARE(list->GetItemText(0, 0), QStringLiteral("a"));
        QCOMPARE(list->GetItemText(0, 1), QStringLiteral("ID"));
        // Escape leaves the label as it was.
        EditLabel(list, 1, 0, QStringLiteral("zzz"), false);
        QVERIFY(d.isVisible());
        QCOMPARE(list->GetItemText(1, 0), QStringLiteral("E"));
        // A click on the selected item's label edits it too; the text is kept as typed.
        list->setCurrentIndex(list->model()->index(2, 0));
        QRect label = list->visualRect(list->model()->index(2, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, label.center());
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTRY_VERIFY(list->indexWidget(list->model()->index(2, 0)) != nullptr);
        auto* editor = qobject_cast<QLineEdit*>(list->indexWidget(list->model()->index(2, 0)));
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral(" Attribute"));
        // Pressing OK ends an edit still open, keeping what was typed.
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(names, (std::vector<std::string>{"a", "E", " Attribute"}));
        QCOMPARE(list->GetItemCount(), 0);
    }

    void mappingDialogEmptyAndCancel() {
        std::vector<std::string> none;
        CAttrElemDlg empty(none);
        empty.show();
        QCOMPARE(empty.m_listCtrl->GetItemCount(), 0);
        QTest::mouseClick(empty.OkButton(), Qt::LeftButton);
        QCOMPARE(empty.result(), int(QDialog::Accepted));
        QVERIFY(none.empty());

        std::vector<std::string> names{"ID", "NAME"};
        CAttrElemDlg cancelled(names);
        cancelled.show();
        EditLabel(cancelled.m_listCtrl, 0, 0, QStringLiteral("A"));
        QTest::mouseClick(cancelled.CancelButton(), Qt::LeftButton);
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QVERIFY(names.empty());  // emptied on opening, not refilled
    }

    void getXmlDataFromTheSampleShop() {
        // The generated document is named in the current folder.
        QTemporaryDir folder;
        struct Back {
            QString folder = QDir::currentPath();
            ~Back() { QDir::setCurrent(folder); }
        } back;
        QVERIFY(QDir::setCurrent(folder.path()));
        Session s;
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("catalog.xml - Quorrel"));
        QVERIFY(s.frame().IsCommandEnabled(ID_GET_XML_DATA));
        QList<int> progress;
        auto script = std::make_unique<DialogScript>();
        script->Then([&](QDialog* dialog) {
            auto* d = qobject_cast<CDataSourceDlg*>(dialog);
            QVERIFY(d != nullptr);
            QVERIFY(d->DsnEdit()->text().isEmpty());
            QCOMPARE(d->MaxRowsEdit()->text(), QStringLiteral("500"));
            FillSource(QStringLiteral("QuorrelSample"), QStringLiteral("SELECT * FROM products"),
                       QStringLiteral("4"))(dialog);
        });
        script->Then([&](QDialog* dialog) {
            auto* d = qobject_cast<CAttrElemDlg*>(dialog);
            QVERIFY(d != nullptr);
            QCOMPARE(d->m_listCtrl->GetItemCount(), 8);
            QCOMPARE(d->m_listCtrl->GetItemText(3, 1), QStringLiteral("unit price"));
            EditLabel(d->m_listCtrl, 0, 0, QStringLiteral("a"));
            EditLabel(d->m_listCtrl, 3, 0, QStringLiteral("A"));
            auto* bar = s.frame().statusBar()->findChild<QProgressBar*>();
            QVERIFY(bar != nullptr);
            QCOMPARE(bar->maximum(), 60);
            connect(bar, &QProgressBar::valueChanged, bar, [&](int value) { progress << value; });
            Press(true)(dialog);
        });
        s.frame().OnCommand(ID_GET_XML_DATA);
        QVERIFY(s.frame().IsBusy());  // the queries run apart, the command returned
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);

        QCOMPARE(script->shown, (QStringList{QStringLiteral("ODBC Data Source"),
                                             QStringLiteral("Attribute/Element")}));
        QVERIFY(script->unexpected.isEmpty());
        script.reset();
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(progress, (QList<int>{15, 30, 45, 60}));
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorreldata.xml - Quorrel"));
        QCOMPARE(s.doc().GetPathName(),
                 (std::filesystem::current_path() / "Quorreldata.xml").string());
        QVERIFY(s.doc().IsModified());
        std::string text = s.source().Text();
        QVERIFY(text.starts_with(
            "<?xml version = \"1.0\"?>\n<rowset>\n\t<row id=\"1\" unit_x0020_price=\"12.5\">\n\t\t"
            "<name>Crème brûlée dish</name>\n\t\t<category>Kitchen</category>\n"));
        QCOMPARE(s.doc().Text(), text);
        QVERIFY(!s.doc().IsTextPending());
        // The tree shows the rows: four, the row limit.
        QCOMPARE(CountLabelled(s.tree().Items(), "rowset"), 1);
        QCOMPARE(CountLabelled(s.tree().Items(), "row"), 4);
        QVERIFY(s.doc().HasDom() && s.doc().Dom().documentElement().nodeName() == "rowset");
        QCOMPARE(s.doc().ColumnNames(),
                 (std::vector<std::string>{"a", "E", "E", "A", "E", "E", "E", "E"}));
        QCOMPARE(s.frame().ProgressPane()->text(), QString(46, QLatin1Char(' ')));
        // Save writes the generated text there, as UTF-8.
        s.frame().OnCommand(ID_FILE_SAVE);
        QFile saved(folder.filePath(QStringLiteral("Quorreldata.xml")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().toStdString(), text);
        QVERIFY(!s.doc().IsModified());

        // Next time the dialog offers the same source and statement, and 500 rows again.
        s.doc().SetModifiedFlag(false);
        Snapshot before(s);
        DialogScript again;
        again.Then([&](QDialog* dialog) {
            auto* d = qobject_cast<CDataSourceDlg*>(dialog);
            QVERIFY(d != nullptr);
            QCOMPARE(d->DsnEdit()->text(), QStringLiteral("QuorrelSample"));
            QCOMPARE(d->QueryEdit()->text(), QStringLiteral("SELECT * FROM products"));
            QCOMPARE(d->MaxRowsEdit()->text(), QStringLiteral("500"));
            Press(false)(dialog);
        });
        s.frame().OnCommand(ID_GET_XML_DATA);
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);
        QCOMPARE(again.shown.size(), 1);
        QVERIFY(Snapshot(s) == before);
        QVERIFY(s.doc().ColumnNames().empty());
    }

    void failuresAndCancelsKeepTheDocument() {
        Session s;
        s.doc().SetModifiedFlag(false);
        const Snapshot original(s);
        struct Case {
            const char* what;
            std::vector<DialogScript::Step> steps;
            std::vector<std::string> messages;
        };
        const std::vector<Case> cases{
            {"cancel in the data source dialog", {Press(false)}, {}},
            {"not a SELECT",
             {FillSource(QStringLiteral("QuorrelSample"),
                         QStringLiteral("with x as (select 1) select * from x"))},
             {"Error: Invalid query\nQuery must start with a SELECT keyword"}},
            // The driver's message once, and no mapping dialog.
            {"missing table",
             {FillSource(QStringLiteral("QuorrelSample"), QStringLiteral("SELECT * FROM nosuch"))},
             {"[SQLite]no such table: nosuch (1)"}},
            {"unknown data source",
             {FillSource(QStringLiteral("NoSuchSource"), QStringLiteral("SELECT 1"))},
             {"[unixODBC][Driver Manager]Data source name not found and no default driver "
              "specified"}},
            {"cancel in the mapping dialog",
             {FillSource(QStringLiteral("QuorrelSample"),
                         QStringLiteral("SELECT * FROM customers")),
              Press(false)},
             {}},
            {"a value XML cannot hold",
             {FillSource(QStringLiteral("QuorrelSample"),
                         QStringLiteral("SELECT 'a' || char(1) AS v")),
              Press(true)},
             {"Row 1, column v: the value holds the character U+0001, which XML cannot hold."}},
        };
        for (const Case& c : cases) {
            s.ui->messages.clear();
            DialogScript script;
            for (const DialogScript::Step& step : c.steps) {
                script.Then(step);
            }
            s.frame().OnCommand(ID_GET_XML_DATA);
            QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);
            QVERIFY2(script.unexpected.isEmpty(), c.what);
            QCOMPARE(script.shown.size(), qsizetype(c.steps.size()));
            QCOMPARE(s.ui->messages, c.messages);
            QVERIFY2(Snapshot(s) == original, c.what);
            QVERIFY2(!s.doc().IsModified(), c.what);
            QCOMPARE(s.frame().ProgressPane()->text(), QString(46, QLatin1Char(' ')));
        }

        // Cancel in the save prompt stops the command before any dialog.
        s.source().setText(QStringLiteral("<edited/>"));
        const Snapshot edited(s);
        s.ui->saveAnswer = SaveAnswer::Cancel;
        DialogScript none;
        s.frame().OnCommand(ID_GET_XML_DATA);
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);
        QCOMPARE(s.ui->savePrompts, QStringList{QStringLiteral("catalog.xml")});
        QVERIFY(none.shown.isEmpty());
        QVERIFY(Snapshot(s) == edited);
    }

    // The server process ends itself at row 300, 100 rows a batch: after the
    // mapping, in the middle of the rows. Its message, and the document as it was.
    void serverLostInTheMiddleOfTheRowsKeepsTheDocument() {
        Session s;
        s.doc().SetModifiedFlag(false);
        const Snapshot original(s);
        DialogScript script;
        script.Then(FillSource(
            QStringLiteral("pgwc"),
            QStringLiteral(
                "SELECT i, CASE WHEN i = 300 THEN pg_terminate_backend(pg_backend_pid()) "
                "END AS k FROM generate_series(1, 1000) AS i"),
            QStringLiteral("600"), QStringLiteral("app"), QStringLiteral("secret")));
        script.Then(Press(true));
        s.frame().OnCommand(ID_GET_XML_DATA);
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);
        QCOMPARE(script.shown, (QStringList{QStringLiteral("ODBC Data Source"),
                                            QStringLiteral("Attribute/Element")}));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY2(s.ui->messages[0].find("The connection has been lost") != std::string::npos,
                 s.ui->messages[0].c_str());
        QVERIFY(Snapshot(s) == original);
        QVERIFY(!s.doc().IsModified());
    }

    void emptyResultGivesTheEmptyRowset() {
        Session s;
        DialogScript script;
        script.Then(FillSource(QStringLiteral("QuorrelSample"),
                               QStringLiteral("SELECT * FROM products WHERE id < 0")));
        script.Then([](QDialog* dialog) {
            auto* d = qobject_cast<CAttrElemDlg*>(dialog);
            QVERIFY(d != nullptr);
            QCOMPARE(d->m_listCtrl->GetItemCount(), 0);
            Press(true)(dialog);
        });
        s.frame().OnCommand(ID_GET_XML_DATA);
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(s.source().Text(),
                 std::string("<?xml version = \"1.0\"?>\n<rowset>\n\t</rowset>\n"));
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorreldata.xml - Quorrel"));
    }

    // After a document from a URL, the generated document is a local one:
    // what its text names is read beside it, not fetched from the old server.
    void generatedDocumentForgetsTheUrlItCameAfter() {
        QTemporaryDir folder;
        struct Back {
            QString folder = QDir::currentPath();
            ~Back() { QDir::setCurrent(folder); }
        } back;
        QVERIFY(QDir::setCurrent(folder.path()));
        QFile local(folder.filePath(QStringLiteral("rows.dtd")));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("<!ENTITY where \"local\">");
        local.close();
        qputenv("no_proxy", "127.0.0.1");
        qputenv("NO_PROXY", "127.0.0.1");
        test::LoopbackHttpServer server;
        server.Route("/d/doc.xml", test::HttpResponse{200, "OK", "<d><e/></d>", {}});
        server.Route("/d/rows.dtd",
                     test::HttpResponse{200, "OK", "<!ENTITY where \"remote\">", {}});

        Session s;
        s.frame().Document().m_execUrlDialog = [&](CUrlDlg& dialog) {
            dialog.show();
            dialog.UrlField()->selectAll();
            QTest::keyClicks(dialog.UrlField(), QString::fromStdString(server.Url("/d/doc.xml")));
            dialog.accept();
            return dialog.result();
        };
        s.ui->saveAnswer = SaveAnswer::Discard;
        s.frame().OnCommand(ID_OPEN_URL);
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().Document().IsFetching(), 30000);
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorrel.xml - Quorrel"));

        DialogScript script;
        script.Then(FillSource(QStringLiteral("QuorrelSample"),
                               QStringLiteral("SELECT id FROM products WHERE id < 2")));
        script.Then(Press(true));
        s.frame().OnCommand(ID_GET_XML_DATA);
        QTRY_VERIFY_WITH_TIMEOUT(!s.frame().IsBusy(), 60000);
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorreldata.xml - Quorrel"));
        QVERIFY(s.doc().SourceUrl().empty());
        const std::size_t requests = server.Requests().size();

        s.source().setText(QStringLiteral(
            "<!DOCTYPE rowset SYSTEM \"rows.dtd\">\n<rowset><row>&where;</row></rowset>\n"));
        s.frame().OnCommand(ID_VALIDATE_NO);
        s.frame().OnCommand(ID_PARSE);
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(CountLabelled(s.tree().Items(), "local"), 1);
        QCOMPARE(server.Requests().size(), requests);
    }
};

QTEST_MAIN(GetXmlDataTest)
#include "GetXmlDataTest.moc"
