// The document's file and other programs: Save replaces only what the user
// chose, a refused save keeps the edits, and a file changed or deleted under
// the window is reported, each change once.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "doc/ui/DocCommands.h"
#include "doc/ui/UrlDlg.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "tests/support/LoopbackHttpServer.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;
using quorrel::test::HttpResponse;
using quorrel::test::LoopbackHttpServer;

namespace {

struct Session : TestWindow {
    QString url;  // what the URL dialog is given

    explicit Session(const QString& file = {}) {
        Start(file);
        QVERIFY(started);
        frame().Document().m_execUrlDialog = [this](CUrlDlg& dialog) {
            dialog.show();
            dialog.UrlField()->setText(url);
            dialog.accept();
            return dialog.result();
        };
    }
    // The window comes to the front again.
    void activate() {
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        QTRY_VERIFY(!frame().IsBusy());
    }
};

// The test acts as the user nobody while it lives (as root; an ordinary
// user is one already).
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (geteuid() == 0) {
            m_dropped = setegid(getgrnam("nogroup")->gr_gid) == 0 &&
                        seteuid(getpwnam("nobody")->pw_uid) == 0;
        }
    }
    ~AsOrdinaryUser() {
        if (m_dropped) {
            (void)!seteuid(0);
            (void)!setegid(0);
        }
    }

private:
    bool m_dropped = false;
};

}  // namespace

class FileOnDiskTest : public QObject {
    Q_OBJECT

    TestSettings m_settings;
    std::unique_ptr<LoopbackHttpServer> m_server;

private slots:
    void initTestCase() {
        qputenv("no_proxy", "127.0.0.1");
        qputenv("NO_PROXY", "127.0.0.1");
        m_server = std::make_unique<LoopbackHttpServer>();
        m_server->Route("/doc.xml", HttpResponse{200, "OK", "<fetched/>", {}});
    }

    void firstSaveOfAGivenNameAsksBeforeReplacing() {
        QTemporaryDir dir;
        QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString mine = dir.filePath(QStringLiteral("Quorrel.xml"));
        Write(mine, "<mine/>");
        {
            Session s;
            s.url = QString::fromStdString(m_server->Url("/doc.xml"));
            s.frame().OnCommand(ID_OPEN_URL);
            QTRY_VERIFY(!s.frame().Document().IsFetching());
            QCOMPARE(QString::fromStdString(s.doc().GetPathName()), mine);

            // No: the user names another file.
            s.ui->answers = {false};
            s.ui->saveNames = {dir.filePath(QStringLiteral("other.xml"))};
            s.frame().OnCommand(ID_FILE_SAVE);
            QCOMPARE(
                s.ui->questions,
                QStringList{mine + QStringLiteral(" already exists.\nDo you want to replace it?")});
            QCOMPARE(ReadAll(mine), QByteArray("<mine/>"));
            QVERIFY(ReadAll(dir.filePath(QStringLiteral("other.xml"))).contains("<fetched/>"));

            // Yes replaces it, and the name is the user's from then on.
            s.frame().OnCommand(ID_OPEN_URL);
            QTRY_VERIFY(!s.frame().Document().IsFetching());
            s.ui->questions.clear();
            s.frame().OnCommand(ID_FILE_SAVE);
            QCOMPARE(s.ui->questions.size(), 1);
            QVERIFY(ReadAll(mine).contains("<fetched/>"));
            s.doc().SetModifiedFlag(true);
            s.frame().OnCommand(ID_FILE_SAVE);
            QCOMPARE(s.ui->questions.size(), 1);
            QVERIFY(!s.doc().IsModified());
        }
        QDir::setCurrent(previous);
    }

    void saveThatIsRefusedKeepsTheEditsAndOffersSaveAs() {
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));  // rwx for all
        const QString path = dir.filePath(QStringLiteral("ro.xml"));
        Write(path, "<r/>");
        if (geteuid() == 0) {
            QCOMPARE(chown(path.toLocal8Bit().constData(), getpwnam("nobody")->pw_uid, -1), 0);
        }
        QVERIFY(QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        Session s(path);
        s.frame().SourceView()->setText(QStringLiteral("<r>edited</r>"));
        s.ui->answers = {false};
        {
            AsOrdinaryUser nobody;
            s.frame().OnCommand(ID_FILE_SAVE);
        }
        QCOMPARE(s.ui->questions, QStringList{QStringLiteral("Cannot write '") + path +
                                              QStringLiteral("': Permission denied\n\nSave the "
                                                             "document under another name?")});
        QVERIFY(s.doc().IsModified());
        QCOMPARE(s.text(), std::string("<r>edited</r>"));
        QCOMPARE(ReadAll(path), QByteArray("<r/>"));

        // Yes: Save As writes the edits elsewhere.
        const QString other = dir.filePath(QStringLiteral("copy.xml"));
        s.ui->saveNames = {other};
        {
            AsOrdinaryUser nobody;
            s.frame().OnCommand(ID_FILE_SAVE);
        }
        QCOMPARE(s.ui->questions.size(), 2);
        QCOMPARE(ReadAll(other), QByteArray("<r>edited</r>"));
        QCOMPARE(ReadAll(path), QByteArray("<r/>"));
        QCOMPARE(QString::fromStdString(s.doc().GetPathName()), other);
        QVERIFY(s.ui->messages.empty());
    }

    void fileChangedByAnotherProgramIsOfferedForReloadOnce() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("doc.xml"));
        Write(path, "<r><a/></r>");
        Session s(path);
        const QString changed =
            path + QStringLiteral("\n\nThis file has been changed by another program. Reload it?");

        // Unedited: Yes reloads it, the tree rebuilt from the new text.
        const std::size_t items = s.frame().TreeView()->Items().Count();
        Write(path, "<r><a/><b/><c/></r>");
        s.activate();
        QCOMPARE(s.ui->questions, QStringList{changed});
        QCOMPARE(s.ui->defaults, std::vector<Answer>{Answer::Yes});
        QTRY_VERIFY(!s.app->IsOpening());
        QCOMPARE(s.text(), std::string("<r><a/><b/><c/></r>"));
        QCOMPARE(s.frame().TreeView()->Items().Count(), items + 2);
        QVERIFY(!s.doc().IsModified());
        s.activate();
        QCOMPARE(s.ui->questions.size(), 1);

        // Edited: the question says what would be lost and defaults to No.
        s.frame().SourceView()->setText(QStringLiteral("<r>mine</r>"));
        Write(path, "<r>theirs</r>");
        s.ui->answers = {false};
        s.activate();
        QCOMPARE(s.ui->questions.size(), 2);
        QCOMPARE(s.ui->questions[1],
                 changed + QStringLiteral("\nThe changes made here would be lost."));
        QCOMPARE(s.ui->defaults.back(), Answer::No);
        QCOMPARE(s.text(), std::string("<r>mine</r>"));
        // Not asked again, neither on the next activation nor by Save.
        s.activate();
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(s.ui->questions.size(), 2);
        QCOMPARE(ReadAll(path), QByteArray("<r>mine</r>"));
        // Our own save is no change, neither on activation nor when its notice comes.
        s.activate();
        QTest::qWait(600);
        QCOMPARE(s.ui->questions.size(), 2);

        // While the window is in front, the file-system notice asks as well.
        QCOMPARE(QGuiApplication::applicationState(), Qt::ApplicationActive);
        s.ui->answers = {false};
        Write(path, "<r>again</r>");
        QTRY_COMPARE(s.ui->questions.size(), 3);
    }

    void deletedFileIsReportedOnceAndRecreatedOnlyAfterAsking() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("doc.xml"));
        Write(path, "<r/>");
        Session s(path);
        QVERIFY(QFile::remove(path));
        s.activate();
        s.activate();
        QCOMPARE(s.ui->messages,
                 std::vector<std::string>{path.toStdString() +
                                          "\n\nThis file has been deleted by another program."});
        QVERIFY(s.ui->questions.isEmpty());

        // No gives Save As; cancelled there, nothing is written.
        s.ui->answers = {false};
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(
            s.ui->questions,
            QStringList{path + QStringLiteral("\n\nThis file no longer exists. Save it again?")});
        QVERIFY(!QFile::exists(path));
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(s.ui->questions.size(), 2);
        QCOMPARE(ReadAll(path), QByteArray("<r/>"));
    }
};

QTEST_MAIN(FileOnDiskTest)
#include "FileOnDiskTest.moc"
