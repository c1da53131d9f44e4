// quorrel: the XML editor's window.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "app/ui/MainFrame.h"
#include "doc/core/Doc.h"
#include "framework/ui/Allocator.h"
#include "views/tree/ui/ClassView.h"

#include "app/ui/XmlEditApp.h"
#include "framework/ui/UserInterface.h"

namespace {

// For the benchmark that times start-up from outside: once both panes show
// the document, say so on standard output and exit as the user would.
void QuitWhenReady(quorrel::CXmlEditApp& app) {
    auto* poll = new QTimer(&app.Frame());
    QObject::connect(poll, &QTimer::timeout, poll, [&app, poll] {
        quorrel::CMainFrame& frame = app.Frame();
        bool ready = !app.IsOpening() && !frame.IsBusy() &&
                     (app.Document().Text().empty() || frame.TreeView()->model()->rowCount() > 0);
        if (!ready) {
            return;
        }
        poll->stop();
        frame.repaint();
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        app.OnAppExit();
    });
    poll->start(10);
}

void NameTheApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Quorrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Hollenby"));
}

void DescribeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Quorrel, an XML editor: the document as coloured source text and as a "
                       "tree, side by side."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("The XML document to open."),
                                 QStringLiteral("[FILE]"));
}

// --help and --version need no window, so no display either.
bool AsksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            return false;
        }
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) {
                return true;
            }
        }
    }
    return false;
}

// Prints the help or the version and exits, as QCommandLineParser does.
[[noreturn]] void AnswerWithoutWindow(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    NameTheApplication();
    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.parse(core.arguments());  // options of the window system are not known here
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();  // first, as QCommandLineParser::process() has it
    }
    parser.showHelp(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (AsksOnlyForText(argc, argv)) {
        AnswerWithoutWindow(argc, argv);
    }
    quorrel::TuneAllocator();
    QApplication application(argc, argv);
    NameTheApplication();

    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.process(application);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        QTextStream(stderr) << "quorrel: open one file at a time\n";
        return 64;
    }

    quorrel::CXmlEditApp app;
    if (!app.InitInstance(files.isEmpty() ? QString() : files.front())) {
        return 1;
    }
    if (qEnvironmentVariableIsSet("QUORREL_QUIT_WHEN_READY")) {
        QuitWhenReady(app);
    }
    int status = application.exec();
    app.LeaveDocumentAtExit();
    return status;
}
