// The window given hostile documents and a disk that changes or refuses:
// a message that says why, the document and the file on disk as they were.
#include <sys/mount.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "doc/core/Doc.h"
#include "framework/ui/Commands.h"
#include "tests/gui/TestWindow.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

using namespace quorrel;

namespace {

struct Session : TestWindow {
    // A large file opens as File > Open opens it: the window first.
    explicit Session(const QString& file = {}) { Start(file, Until::Opened); }
};

std::string Reason(int err) {
    return std::strerror(err);
}

}  // namespace

class HostileInputTest : public QObject {
    Q_OBJECT

private:
    TestSettings m_settings;

private slots:

    void fileChangedOnDiskIsOnlyOverwrittenWhenTheUserSaysSo() {
        QTemporaryDir dir;
        const QString path = Write(dir.filePath(QStringLiteral("doc.xml")), "<r/>\n");
        Session s(path);
        QVERIFY(s.started);
        s.source().setText(QStringLiteral("<r>mine</r>\n"));

        // Another program puts a new file in its place.
        const QString other = Write(dir.filePath(QStringLiteral("other.xml")), "<theirs/>\n");
        QVERIFY(std::rename(other.toLocal8Bit().constData(), path.toLocal8Bit().constData()) == 0);
        s.ui->yes = false;
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(s.ui->questions.size(), 1);
        QVERIFY(s.ui->questions[0].startsWith(
            path + QStringLiteral(" has been changed by another program")));
        QCOMPARE(ReadAll(path), QByteArray("<theirs/>\n"));
        QVERIFY(s.doc().IsModified());

        s.ui->yes = true;
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(s.ui->questions.size(), 2);
        QCOMPARE(ReadAll(path), QByteArray("<r>mine</r>\n"));
        QVERIFY(!s.doc().IsModified());

        // Our own save is not a change by another program; a vanished file is
        // written anew once the user says so.
        s.source().setText(QStringLiteral("<r>again</r>\n"));
        s.frame().OnCommand(ID_FILE_SAVE);
        QVERIFY(QFile::remove(path));
        s.source().setText(QStringLiteral("<r>back</r>\n"));
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(s.ui->questions.size(), 3);
        QCOMPARE(s.ui->questions[2],
                 path + QStringLiteral("\n\nThis file no longer exists. Save it again?"));
        QCOMPARE(ReadAll(path), QByteArray("<r>back</r>\n"));
        QVERIFY(s.ui->messages.empty());
    }

    void refusedSaveShowsTheSystemsReasonAndKeepsTheFile() {
        if (geteuid() != 0) {
            QSKIP("mounting a read-only tmpfs needs root");
        }
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(folder));
        if (mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0) {
            QSKIP(qPrintable(QStringLiteral("mount is not permitted here: ") +
                             QString::fromStdString(Reason(errno))));
        }
        struct Unmount {
            QByteArray at;
            ~Unmount() { umount2(at.constData(), MNT_DETACH); }
        } unmount{folder.toLocal8Bit()};
        const QString path = Write(folder + QStringLiteral("/doc.xml"), "<r/>");
        Session s(path);
        QVERIFY(s.started);
        QCOMPARE(mount(nullptr, folder.toLocal8Bit().constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                       nullptr),
                 0);
        s.source().setText(QStringLiteral("<r>new</r>"));
        s.ui->yes = false;  // no Save As
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(s.ui->questions,
                 QStringList{QString::fromStdString("Cannot write '" + path.toStdString() +
                                                    "': " + Reason(EROFS)) +
                             QStringLiteral("\n\nSave the document under another name?")});
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(ReadAll(path), QByteArray("<r/>"));
        QVERIFY(s.doc().IsModified());
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("doc.xml - Quorrel"));
    }

    void hostileDocumentsOpenWithAMessage() {
        QTemporaryDir dir;
        Session s(Write(dir.filePath(QStringLiteral("good.xml")), "<r/>"));
        QVERIFY(s.started);

        QByteArray deep = QByteArray("<e>").repeated(100000) + QByteArray("</e>").repeated(100000);
        QVERIFY(s.app->OpenDocumentFile(Write(dir.filePath(QStringLiteral("deep.xml")), deep)));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(s.ui->messages[0].find("Excessive depth in document") != std::string::npos);
        QCOMPARE(s.source().Text().size(), std::size_t(deep.size()));
        QVERIFY(s.tree().Items().IsEmpty());
        s.frame().SetActivePane(&s.tree());  // a second parse, from the tree
        QCOMPARE(s.ui->messages.size(), std::size_t(1));

        QByteArray crowded = "<r";
        for (int i = 0; i < 1000000; ++i) {
            crowded += " a" + QByteArray::number(i) + "=''";
        }
        s.ui->messages.clear();
        QVERIFY(s.app->OpenDocumentFile(
            Write(dir.filePath(QStringLiteral("crowded.xml")), crowded + "/>")));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QVERIFY(s.ui->messages[0].find("more than 10000 attributes") != std::string::npos);

        // A folder named like a document: nothing changes.
        s.ui->messages.clear();
        const QString folder = dir.filePath(QStringLiteral("folder.xml"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!s.app->OpenDocumentFile(folder));
        QCOMPARE(s.ui->messages.size(), std::size_t(1));
        QCOMPARE(s.ui->messages[0],
                 "Cannot read '" + folder.toStdString() + "': " + Reason(EISDIR));
        QCOMPARE(s.frame().windowTitle(), QStringLiteral("crowded.xml - Quorrel"));
    }

    void tenMegabyteSingleLine() {
        QTemporaryDir dir;
        QByteArray line = "<r>";
        int elements = 0;
        while (line.size() < 10 * 1024 * 1024) {
            line += "<i n=\"" + QByteArray::number(elements++) + "\">v</i>";
        }
        line += "</r>";
        Session s(Write(dir.filePath(QStringLiteral("line.xml")), line));
        QVERIFY(s.started);
        QVERIFY(s.ui->messages.empty());
        QCOMPARE(s.source().lines(), 1);
        QCOMPARE(s.source().Text().size(), std::size_t(line.size()));
        QCOMPARE(int(s.tree().Items().GetRootItem()->children().size()), elements);
        s.frame().OnCommand(ID_FILE_SAVE);
        QCOMPARE(ReadAll(dir.filePath(QStringLiteral("line.xml"))), line);
    }
};

QTEST_MAIN(HostileInputTest)
#include "HostileInputTest.moc"
