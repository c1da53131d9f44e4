// Open from URL in the real window, against a server of the test's own on
// 127.0.0.1, and the status-bar progress bar it shows.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "doc/ui/UrlDlg.h"
#include "framework/ui/Commands.h"
#include "framework/ui/ProgressBar.h"
#include "tests/gui/TestWindow.h"
#include "tests/support/LoopbackHttpServer.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;
using quorrel::test::HttpResponse;
using quorrel::test::LoopbackHttpServer;

namespace {

const std::string kNote =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE note SYSTEM "
    "\"note.dtd\">\n<note>\n\t<to>Tove</to>\n\t<from>Jani</from>\n</note>\n";
const std::string kInvalidNote =
    "<!DOCTYPE note SYSTEM \"note.dtd\">\n<note><to>Tove</to><from>Jani</from><p/></note>\n";
const std::string kDtd =
    "<!ELEMENT note (to, from)>\n<!ELEMENT to (#PCDATA)>\n<!ELEMENT from (#PCDATA)>\n";
const QString kBlankPane(46, QLatin1Char(' '));

// A window with a scripted user; the URL dialog answers from `answer`.
struct Session : TestWindow {
    QStringList offered;  // what the URL dialog showed when it opened
    // The URL to type, or nothing to press Cancel.
    std::optional<QString> answer;

    explicit Session(const QString& file = {}) {
        Start(file);
        if (!started) {
            return;
        }
        commands().m_execUrlDialog = [this](CUrlDlg& dialog) {
            dialog.show();
            offered << dialog.UrlField()->text();
            if (!answer) {
                dialog.reject();
                return dialog.result();
            }
            dialog.UrlField()->selectAll();
            QTest::keyClicks(dialog.UrlField(), *answer);
            dialog.accept();
            return dialog.result();
        };
    }
    DocCommands& commands() { return frame().Document(); }
    QProgressBar* progressBar() {
        return frame().statusBar()->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    }
    // Runs Open from URL and waits until the fetched document is in place (or not).
    void openUrl(const std::string& url) {
        answer = QString::fromStdString(url);
        frame().OnCommand(ID_OPEN_URL);
        QTRY_VERIFY_WITH_TIMEOUT(!commands().IsFetching(), 30000);
    }
};

// The bar's rectangle as the layout rules give it, worked out here step by step.
QRect Expected(const QRect& pane, int left, int size) {
    int right = pane.x() + pane.width();
    right -= ((100 - size) * (right - left)) / 100;
    int d = pane.height() / 10;
    return QRect(left, pane.y() + d, std::max(0, right - left), pane.height() - 2 * d);
}

// Makes a folder the current one for a scope.
class CurrentDir {
public:
    explicit CurrentDir(const QString& path) : m_previous(QDir::currentPath()) {
        QDir::setCurrent(path);
    }
    ~CurrentDir() { QDir::setCurrent(m_previous); }

private:
    QString m_previous;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

}  // namespace

class OpenUrlTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;
    std::unique_ptr<LoopbackHttpServer> m_server;

    std::string Url(const char* path) { return m_server->Url(path); }

private slots:
    void initTestCase() {
        // A proxy from the environment must not stand between the tests and their server.
        qputenv("no_proxy", "127.0.0.1");
        qputenv("NO_PROXY", "127.0.0.1");
        m_server = std::make_unique<LoopbackHttpServer>();
        m_server->Route("/notes/note.xml", HttpResponse{200, "OK", kNote, {}});
        m_server->Route("/notes/note.dtd", HttpResponse{200, "OK", kDtd, {}});
        m_server->Route("/notes/invalid.xml", HttpResponse{200, "OK", kInvalidNote, {}});
        m_server->Route("/notes/malformed.xml",
                        HttpResponse{200, "OK", "<note><to>Tove</from></note>", {}});
    }

    void progressBarWithoutWindowDoesNothing() {
        CProgressBar bar;
        QVERIFY(!bar.Create(QString(), 100, 100, false, 1));
        QCOMPARE(bar.Bar(), nullptr);
        QVERIFY(!bar.SetRange(0, 60, 1));
        QCOMPARE(bar.SetPos(15), 0);
        QCOMPARE(bar.SetStep(2), 0);
        QVERIFY(!bar.Clear());
        QVERIFY(!bar.Resize());
    }

    void progressBarLayoutRules() {
        // Message width 30, blank 5: the bar starts 4 blanks after the message.
        QCOMPARE(CProgressBar::Layout(QRect(100, 0, 200, 20), true, 30, 5, 50),
                 QRect(150, 2, 75, 16));
        QCOMPARE(CProgressBar::Layout(QRect(100, 0, 200, 20), false, 30, 5, 100),
                 QRect(100, 2, 200, 16));
        // Truncating division: 199 * 33 / 100 = 65.67 leaves 134.
        QCOMPARE(CProgressBar::Layout(QRect(0, 5, 199, 19), false, 0, 5, 67), QRect(0, 6, 134, 17));
        QCOMPARE(CProgressBar::Layout(QRect(100, 0, 200, 20), false, 0, 5, 0).width(), 0);
        // A message wider than the pane leaves no room, never a negative width.
        QRect squeezed = CProgressBar::Layout(QRect(100, 0, 200, 20), true, 400, 5, 100);
        QCOMPARE(squeezed.width(), 0);
        QCOMPARE(squeezed.left(), 520);
    }

    void progressBarInItsPane() {
        Session s;
        s.frame().resize(900, 500);
        QLabel* pane = s.frame().ProgressPane();
        QTRY_VERIFY(pane->isVisible());
        {
            CProgressBar bar(&s.frame());
            QVERIFY(bar.Create(QString(), 100, 100, false, 1));
            QVERIFY(bar.SetRange(0, 60, 1));
            QProgressBar* widget = bar.Bar();
            QVERIFY(widget != nullptr);
            QCOMPARE(widget->parentWidget(), s.frame().statusBar());
            QVERIFY(widget->isVisible());
            QVERIFY(!bar.IsSmooth());
            QCOMPARE(widget->maximum(), 60);
            // No message, size 100: the whole pane, a tenth of its height off top and bottom.
            QCOMPARE(widget->geometry(), Expected(pane->geometry(), pane->x(), 100));
            QVERIFY(pane->geometry().contains(widget->geometry()));
            QCOMPARE(pane->text(), QString());

            QCOMPARE(bar.SetPos(15), 0);
            QCOMPARE(bar.SetPos(30), 15);
            QCOMPARE(widget->value(), 30);
            QCOMPARE(bar.SetStep(3), 1);
            QCOMPARE(bar.Step(), 3);

            // Resizing the window keeps the bar in its pane.
            s.frame().resize(640, 400);
            QTRY_COMPARE(widget->geometry(), Expected(pane->geometry(), pane->x(), 100));
            s.frame().resize(1000, 520);
            QTRY_COMPARE(widget->geometry(), Expected(pane->geometry(), pane->x(), 100));

            // Clear on pane 1 gives back its blank text; SetPos shows the bar again.
            QVERIFY(bar.Clear());
            QVERIFY(widget->isHidden());
            QCOMPARE(pane->text(), kBlankPane);
            QCOMPARE(bar.SetPos(45), 30);
            QVERIFY(widget->isVisible());
            QCOMPARE(widget->value(), 45);
            QVERIFY(bar.Clear());
            QVERIFY(bar.SetStep(1) == 3 && widget->isVisible());
        }
        // Gone with its command, the pane as before.
        QCOMPARE(s.progressBar(), nullptr);
        QCOMPARE(pane->text(), kBlankPane);

        CProgressBar messaged(&s.frame());
        const QString message = QStringLiteral("Loading");
        QVERIFY(messaged.Create(message, 50, 100, true, 1));
        QVERIFY(messaged.IsSmooth());
        QCOMPARE(pane->text(), message);
        QFontMetrics metrics = s.frame().statusBar()->fontMetrics();
        int left = pane->x() + metrics.horizontalAdvance(message) +
                   4 * metrics.horizontalAdvance(QLatin1Char(' '));
        QCOMPARE(messaged.Bar()->geometry(), Expected(pane->geometry(), left, 50));
        QVERIFY(messaged.Clear());
        QCOMPARE(pane->text(), kBlankPane);

        // Pane 0, the message area: Clear shows "Ready", whatever was there.
        s.frame().statusBar()->showMessage(QStringLiteral("Working"));
        CProgressBar first(&s.frame());
        QVERIFY(first.Create(QStringLiteral("Fetching"), 100, 100, false, 0));
        QCOMPARE(s.frame().statusBar()->currentMessage(), QStringLiteral("Fetching"));
        QVERIFY(first.Bar()->geometry().right() < pane->x());
        QVERIFY(first.Clear());
        QCOMPARE(s.frame().statusBar()->currentMessage(), QStringLiteral("Ready"));

        CProgressBar nowhere(&s.frame());
        QVERIFY(!nowhere.Create(QString(), 100, 100, false, 7));
        QCOMPARE(nowhere.SetPos(1), 0);
    }

    void urlDialog() {
        CUrlDlg dialog(nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("URL"));
        QVERIFY(dialog.findChild<QLabel*>()->text() ==
                QStringLiteral("Enter the URL of the Xml Document :"));
        dialog.m_strUrl = QStringLiteral("http://127.0.0.1/a.xml");
        dialog.show();
        QCOMPARE(dialog.UrlField()->text(), QStringLiteral("http://127.0.0.1/a.xml"));
        dialog.UrlField()->clear();
        QTest::keyClicks(dialog.UrlField(), QString(130, QLatin1Char('u')));
        QCOMPARE(dialog.UrlField()->text(), QString(120, QLatin1Char('u')));
        // Cancel keeps the URL it was given; OK takes the field.
        dialog.reject();
        QCOMPARE(dialog.m_strUrl, QStringLiteral("http://127.0.0.1/a.xml"));
        dialog.show();
        QTest::keyClicks(dialog.UrlField(), QStringLiteral("http://h/x.xml"));
        QTest::keyClick(dialog.UrlField(), Qt::Key_Return);  // OK is the default button
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_strUrl, QStringLiteral("http://h/x.xml"));
    }

    void openFromUrl() {
        QTemporaryDir dir;
        CurrentDir inDir(dir.path());
        Session s;
        QVERIFY(s.enabled(ID_OPEN_URL));
        QVERIFY(s.frame()
                    .findChild<QAction*>(QStringLiteral("command%1xml").arg(ID_OPEN_URL))
                    ->isEnabled());

        // Cancel in the dialog: nothing changes, not even the title.
        s.frame().OnCommand(ID_OPEN_URL);
        QCOMPARE(s.offered, QStringList{QStringLiteral("http://")});
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorrel - Quorrel"));
        QCOMPARE(s.doc().LastUrl(), std::string("http://"));
        QVERIFY(!s.commands().IsFetching());

        const std::string url = Url("/notes/note.xml");
        s.answer = QString::fromStdString(url);
        s.frame().OnCommand(ID_OPEN_URL);
        // The fetch runs on: every command waits, the source is read-only, the bar shows 15.
        QVERIFY(s.commands().IsFetching());
        for (int id :
             {ID_OPEN_URL, ID_FILE_NEW, ID_FILE_SAVE, ID_PARSE, ID_APP_EXIT, ID_VALIDATE_NO}) {
            QVERIFY2(!s.enabled(id), qPrintable(QString::number(id)));
        }
        QVERIFY(s.source().isReadOnly());
        QProgressBar* bar = s.progressBar();
        QVERIFY(bar != nullptr && bar->isVisible());
        QCOMPARE(bar->maximum(), 60);
        QCOMPARE(bar->value(), 15);
        QList<int> positions;
        connect(bar, &QProgressBar::valueChanged, this,
                [&positions](int value) { positions << value; });
        QTRY_VERIFY_WITH_TIMEOUT(!s.commands().IsFetching(), 30000);

        QCOMPARE(positions, (QList<int>{30, 45, 60}));
        QCOMPARE(s.progressBar(), nullptr);
        QCOMPARE(s.frame().ProgressPane()->text(), kBlankPane);
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorrel.xml - Quorrel"));
        QVERIFY(s.doc().IsModified());
        QCOMPARE(s.source().Text(), kNote);
        QVERIFY(!s.source().isReadOnly());
        QVERIFY(!s.frame().TreeView()->Items().IsEmpty());
        QVERIFY(s.enabled(ID_FILE_NEW));

        // Save writes Quorrel.xml where the command ran, without asking for a name.
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(QDir(dir.path()).filePath(QStringLiteral("Quorrel.xml"))),
                 QByteArray::fromStdString(kNote));
        QVERIFY(!s.doc().IsModified());

        // The last URL is offered again; after New, "http://".
        s.answer.reset();
        s.frame().OnCommand(ID_OPEN_URL);
        QCOMPARE(s.offered.last(), QString::fromStdString(url));
        s.frame().OnCommand(ID_FILE_NEW);
        s.frame().OnCommand(ID_OPEN_URL);
        QCOMPARE(s.offered.last(), QStringLiteral("http://"));

        // With Validate? > No a document that breaks its DTD opens without a message.
        s.frame().OnCommand(ID_VALIDATE_NO);
        s.openUrl(Url("/notes/invalid.xml"));
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorrel.xml - Quorrel"));
        QVERIFY(s.source().Text().find("<p/>") != std::string::npos);
    }

    void failuresKeepTheDocument() {
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("doc.xml"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<r><a/></r>");
        file.close();
        Session s(path);
        const XmlDocument* dom = s.doc().HasDom() ? &s.doc().Dom() : nullptr;
        auto expectUnchanged = [&] {
            QCOMPARE(s.frame().windowTitle(), QStringLiteral("doc.xml - Quorrel"));
            QCOMPARE(QString::fromStdString(s.doc().GetPathName()), path);
            QCOMPARE(s.source().Text(), std::string("<r><a/></r>"));
            QCOMPARE(s.doc().HasDom() ? &s.doc().Dom() : nullptr, dom);
            QVERIFY(!s.doc().IsModified());
            QCOMPARE(s.progressBar(), nullptr);
            QCOMPARE(s.frame().ProgressPane()->text(), kBlankPane);
        };

        s.openUrl(Url("/notes/malformed.xml"));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(s.ui->messages[0].starts_with("XML DOM Parse Error:\n"));
        QVERIFY(
            s.ui->messages[0].ends_with("\nHint:\n Turn the DTD/Schema validation button - V - on "
                                        "the toolbar off.\n Then try to open this URL again."));
        expectUnchanged();
        QCOMPARE(s.doc().LastUrl(), Url("/notes/malformed.xml"));

        s.openUrl(Url("/notes/missing.xml"));
        QCOMPARE(s.ui->messages.size(), std::size_t(2));
        QCOMPARE(s.ui->messages[1],
                 "Could not open the URL:\nThe server answered 404 Not Found for " +
                     Url("/notes/missing.xml") + ".");
        expectUnchanged();

        // Save still writes the file the document came from.
        s.source().setText(QStringLiteral("<r><b/></r>"));
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(path), QByteArray("<r><b/></r>"));

        // Cancel in the save prompt stops the command before its dialog.
        s.source().setText(QStringLiteral("<r><c/></r>"));
        s.ui->saveAnswer = SaveAnswer::Cancel;
        qsizetype dialogs = s.offered.size();
        s.answer = QString::fromStdString(Url("/notes/note.xml"));
        s.frame().OnCommand(ID_OPEN_URL);
        QCOMPARE(s.ui->savePrompts.size(), qsizetype(1));
        QCOMPARE(s.offered.size(), dialogs);
        QVERIFY(!s.commands().IsFetching());
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("doc.xml - Quorrel"));
        // "Don't save" goes on to the dialog.
        s.ui->saveAnswer = SaveAnswer::Discard;
        s.openUrl(Url("/notes/note.xml"));
        QCOMPARE(s.offered.size(), dialogs + 1);
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("Quorrel.xml - Quorrel"));
    }

    void windowStaysLiveWhileFetching() {
        LoopbackHttpServer silent(LoopbackHttpServer::Mode::Silent);
        Session s;
        s.answer = QString::fromStdString(silent.Url("/slow.xml"));
        s.frame().OnCommand(ID_OPEN_URL);
        QVERIFY(s.commands().IsFetching());
        QTRY_COMPARE(silent.Connections(), 1);
        // The window paints while the server keeps silent.
        PaintCounter counter(s.frame().statusBar());
        s.frame().statusBar()->update();
        QTRY_VERIFY(counter.paints > 0);
        QVERIFY(s.commands().IsFetching());
        // Commands wait, by the menu or otherwise.
        s.frame().OnCommand(ID_FILE_NEW);
        QCOMPARE(s.doc().LastUrl(), silent.Url("/slow.xml"));
        QVERIFY(!s.enabled(ID_APP_EXIT));

        // Closing stops the fetch, then the window closes: nothing shown, nothing changed.
        QVERIFY(!s.frame().close());
        QTRY_VERIFY_WITH_TIMEOUT(!s.commands().IsFetching(), 30000);
        QTRY_VERIFY(!s.frame().isVisible());
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(s.doc().Text(), std::string());
        QCOMPARE(s.progressBar(), nullptr);

        // Without closing, the time-out ends it with curl's reason.
        qputenv("QUORREL_TRANSFER_TIMEOUT_MS", "300");
        Session t;
        t.openUrl(silent.Url("/slow.xml"));
        qunsetenv("QUORREL_TRANSFER_TIMEOUT_MS");
        QCOMPARE(t.ui->messages.size(), std::size_t(1));
        QVERIFY(t.ui->messages[0].starts_with("Could not open the URL:\n"));
        QVERIFY(t.ui->messages[0].find("timed out") != std::string::npos);
        QCOMPARE(t.frame().windowTitle(), QStringLiteral("Quorrel - Quorrel"));
    }
};

QTEST_MAIN(OpenUrlTest)
#include "OpenUrlTest.moc"
