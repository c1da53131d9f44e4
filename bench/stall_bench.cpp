// The window as the user drives it on large documents: for each action, how
// long until its result is on screen and the longest time the window's event
// loop did not answer (a 10 ms timer's longest gap; 10 ms is no stall). The
// actions go through the window's own commands and dialogs: File > Open, a
// keystroke and the first click into the tree, Xml > Parse, the fourteen tree
// commands on every occurrence, Save, File > New, a recent-file entry and Get
// Xml Data on 100,000 rows. Each size runs in a process of its own, so its
// peak memory is its own. From outside, in the same run: start-up with the
// file until both panes are usable and from there to the end of the process,
// beside xmllint --noout; and quorrel-cli's rename of every element of a
// name beside xmlstarlet's. Xml > Find by XPath: three expressions typed
// into the panel and evaluated with Enter, and Rename Element run on every
// match from the panel; --xpath-only runs the window's open and these alone.
//
// Usage: quorrel-stall-bench --app QUORREL --cli QUORREL_CLI [--rows N]
//        [--xpath-only] [MB...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "bench/BenchDocuments.h"
#include "bench/BenchTable.h"
#include "bench/SilentUi.h"
#include "db/ui/DataSourceDlg.h"
#include "doc/core/Doc.h"
#include "edit/ui/TreeCommandDlg.h"
#include "framework/ui/Allocator.h"
#include "framework/ui/Commands.h"
#include "framework/ui/UserInterface.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"
#include "views/xpath/ui/XPathPanel.h"

namespace {

using namespace quorrel;

double Seconds(qint64 nanoseconds) {
    return double(nanoseconds) / 1e9;
}

double PeakMb(const rusage& usage) {
    return double(usage.ru_maxrss) / 1024.0;
}

// One action: from the trigger until it is done and the window has had
// 100 ms to settle (deferred painting and layout count), the longest gap
// between two ticks of a 10 ms timer.
struct Timing {
    double wall = 0;
    double stall = 0;
};

Timing Measure(const std::function<void()>& act, const std::function<bool()>& done) {
    QElapsedTimer wall, sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    bool acted = false;
    QTimer::singleShot(0, [&] {
        act();
        acted = true;
    });
    wall.start();
    sinceTick.start();
    ticker.start();
    while (!acted || !done()) {
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    Timing timing;
    timing.wall = Seconds(wall.nsecsElapsed());
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 100) {
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    longest = std::max(longest, sinceTick.nsecsElapsed());
    timing.stall = Seconds(longest);
    return timing;
}

// Answers the modal dialogs of Get Xml Data as a user would.
class DialogAnswers : public QObject {
public:
    DialogAnswers(QString dsn, QString query) : m_dsn(std::move(dsn)), m_query(std::move(query)) {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswers::Poll);
        m_timer.start();
    }

private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible() || dialog == m_last) {
            return;
        }
        m_last = dialog;
        if (auto* source = qobject_cast<CDataSourceDlg*>(dialog)) {
            source->DsnEdit()->setText(m_dsn);
            source->QueryEdit()->setText(m_query);
            source->MaxRowsEdit()->setText(QStringLiteral("0"));
            source->OkButton()->click();
        } else if (auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("okButton"))) {
            ok->click();  // the columns as the dialog proposes them
        } else {
            std::fprintf(stderr, "unexpected dialog: %s\n", qPrintable(dialog->windowTitle()));
            dialog->reject();
        }
    }

    QString m_dsn, m_query;
    QPointer<QDialog> m_last;
    QTimer m_timer;
};

struct Step {
    const char* what;
    TreeCommand command;
    const char* kind;   // "element", "attribute" or "text"
    const char* label;  // the element's name, the attribute's name or the text
    const char* name;
    const char* value;
    bool all;
};

// Every occurrence, in an order that leaves each step something to act on.
const Step kSteps[] = {
    {"Add Attribute", TreeCommand::AddAttribute, "element", "order", "added", "1", true},
    {"Change Attribute Name", TreeCommand::ChangeAttributeName, "attribute", "status", "state",
     nullptr, true},
    {"Change Attribute Value", TreeCommand::ChangeAttributeValue, "attribute", "state", nullptr,
     "sent", true},
    {"Attribute To Element", TreeCommand::AttributeToElement, "attribute", "state", nullptr,
     nullptr, true},
    {"Delete Attribute", TreeCommand::DeleteAttribute, "attribute", "date", nullptr, nullptr, true},
    {"Add Child Element", TreeCommand::AddChildElement, "element", "order", "extra", "x", true},
    {"Add Text Node", TreeCommand::AddTextNode, "element", "extra", nullptr, "more", true},
    {"Rename Element, one", TreeCommand::RenameElement, "element", "order", "sale", nullptr, false},
    {"Rename Element", TreeCommand::RenameElement, "element", "order", "purchase", nullptr, true},
    {"Element To Attribute", TreeCommand::ElementToAttribute, "element", "extra", nullptr, nullptr,
     true},
    {"Delete Element Only", TreeCommand::DeleteElementOnly, "element", "items", nullptr, nullptr,
     true},
    {"Change Text Value", TreeCommand::ChangeTextValue, "text", "blue", nullptr, "red", true},
    {"Delete Text Node", TreeCommand::DeleteTextNode, "text", "red", nullptr, nullptr, true},
    {"Duplicate Element Subtree", TreeCommand::DuplicateElementSubTree, "element", "purchase",
     nullptr, nullptr, false},
    {"Delete Element & All Children", TreeCommand::DeleteElementAndChildren, "element", "note",
     nullptr, nullptr, false},
};

// The first item of a kind and label, as the user would find it in the tree.
const CTreeItem* FindItem(const CTreeItems& items, const Step& step) {
    const std::string kind = step.kind;
    const std::string attributePrefix = std::string(step.label) + " = ";
    const CTreeItem* found = nullptr;
    VisitItems(items, [&](const CTreeItem& item, int) {
        if (found != nullptr) {
            return;
        }
        const int image = item.image();
        const std::string_view label = item.label();
        if (kind == "element" && (image == IMG_ELEMENT_PARENT || image == IMG_ELEMENT_LEAF) &&
            label == step.label) {
            found = &item;
        } else if (kind == "attribute" && image == IMG_ATTRIBUTE &&
                   label.starts_with(attributePrefix)) {
            found = &item;
        } else if (kind == "text" && image == IMG_TEXT && label == step.label) {
            found = &item;
        }
    });
    return found;
}

// What one size's window did, written by the child for the parent to print.
void Report(std::FILE* out, const std::string& what, const Timing& t) {
    std::fprintf(out, "%s\t%.6f\t%.6f\n", what.c_str(), t.wall, t.stall);
    std::fflush(out);
}

bool Settled(CXmlEditApp& app) {
    CMainFrame& frame = app.Frame();
    return !app.IsOpening() && !frame.IsBusy();
}

bool Shown(CXmlEditApp& app) {
    CMainFrame& frame = app.Frame();
    return Settled(app) && frame.SourceView()->length() > 0 && frame.TreeView()->model() &&
           frame.TreeView()->model()->rowCount() > 0;
}

// The id of the order halfway through the document ("o10303").
std::string MiddleOrderId(const std::string& text) {
    const std::string mark = "<order id=\"o";
    const std::size_t last = text.rfind(mark);
    if (last == std::string::npos) {
        return "o0";
    }
    return "o" + std::to_string(std::atol(text.c_str() + last + mark.size()) / 2);
}

// Xml > Find by XPath as the user drives it: the panel opened by its command,
// each expression typed and Enter pressed until its result shows, then
// Rename Element on every customer the last expression found.
void DrivePanel(CMainFrame& frame, CXmlEditApp& app, const std::string& text, std::FILE* out) {
    CXPathPanel& panel = *frame.XPathPanel();
    int evaluations = 0;
    QObject counting;  // the connection ends with this function
    QObject::connect(&panel, &CXPathPanel::evaluated, &counting, [&evaluations] { ++evaluations; });
    Report(out, "Find by XPath: the panel opened",
           Measure(
               [&frame] {
                   frame.UpdateCommandUI();
                   frame.Action(ID_FIND_XPATH)->trigger();
               },
               [&panel] { return panel.isVisible(); }));
    QLineEdit* field = panel.ExpressionField()->lineEdit();
    auto evaluate = [&](const std::string& expression, const std::string& shown) {
        field->setFocus();
        field->setText(QString::fromStdString(expression));
        QApplication::processEvents();
        const int before = evaluations;
        Report(out, "Find by XPath: " + shown + ", Enter until the result shows",
               Measure(
                   [field] {
                       QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                       QApplication::sendEvent(field, &enter);
                   },
                   [&] { return evaluations > before && !panel.Evaluating() && Settled(app); }));
        std::fprintf(stderr, "%s: %s %s\n", expression.c_str(),
                     qPrintable(panel.CountLabel()->text()),
                     qPrintable(panel.StatusLabel()->text()));
    };
    evaluate("//order[@id=\"" + MiddleOrderId(text) + "\"]", "`//order[@id=\"…\"]`");
    evaluate("count(//item)", "`count(//item)`");
    evaluate("//text()[contains(., \"x\")]", "`//text()[contains(., \"x\")]`");
    evaluate("//customer", "`//customer`");

    panel.m_execMenu = [](QMenu& menu, const QPoint&) -> QAction* {
        for (QAction* action : menu.actions()) {
            if (action->data().toInt() == int(TreeCommand::RenameElement)) {
                return action;
            }
        }
        return nullptr;
    };
    panel.m_execDialog = [](QDialog& dialog) {
        static_cast<CTreeCommandDlg&>(dialog).NameField()->setText(QStringLiteral("client"));
        return int(QDialog::Accepted);
    };
    const std::size_t before = frame.SourceView()->length();
    Report(
        out, "Find by XPath: Rename Element on every `//customer` match",
        Measure([&panel] { panel.RunButton()->click(); },
                [&] { return Shown(app) && std::size_t(frame.SourceView()->length()) != before; }));
}

// The window on one file, every action once; rows go to out.
void DriveWindow(const QString& path, const QString& dsn, std::FILE* out, bool xpathOnly, int argc,
                 char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    auto silent = std::make_unique<SilentUi>(/*yes=*/true);
    silent->openName = path;
    CXmlEditApp app(std::move(silent));
    app.InitInstance();
    CMainFrame& frame = app.Frame();
    frame.resize(1100, 700);
    frame.show();
    QApplication::processEvents();
    CClassView& tree = *frame.TreeView();
    CDView& source = *frame.SourceView();
    const Step* current = nullptr;
    tree.m_execDialog = [&current](QDialog& dialog) {
        auto& d = static_cast<CTreeCommandDlg&>(dialog);
        if (current->name != nullptr && d.NameField() != nullptr) {
            d.NameField()->setText(QString::fromUtf8(current->name));
        }
        if (current->value != nullptr && d.ValueField() != nullptr) {
            d.ValueField()->setText(QString::fromUtf8(current->value));
        }
        if (d.AllOccurrences() != nullptr) {
            d.AllOccurrences()->setChecked(current->all);
        }
        return int(QDialog::Accepted);
    };
    auto command = [&](int id) {
        return [&frame, id] {
            frame.UpdateCommandUI();
            QAction* action = frame.Action(id);
            if (!action->isEnabled()) {
                std::fprintf(stderr, "command %d is disabled\n", id);
                return;
            }
            action->trigger();
        };
    };
    auto shown = [&] { return Shown(app); };
    auto settled = [&] { return Settled(app); };

    Report(out, "File > Open", Measure(command(ID_FILE_OPEN), shown));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(out, "peak after open\t%.1f\n", PeakMb(usage));

    const std::string text = source.Text();
    if (xpathOnly) {
        DrivePanel(frame, app, text, out);
        app.LeaveDocumentAtExit();
        return;
    }
    // A blank after the document element's start tag: the tree stays the same.
    frame.SetActivePane(&source);
    const int afterRoot = int(text.find('>', text.find("<shop")) + 1);
    source.SendScintilla(QsciScintilla::SCI_GOTOPOS, afterRoot);
    source.SendScintilla(QsciScintilla::SCI_ADDTEXT, 1UL, " ");
    Report(out, "first click into the tree after a keystroke",
           Measure([&] { frame.SetActivePane(&tree); }, shown));

    Report(out, "Xml > Parse", Measure(command(ID_PARSE), shown));
    // On the parsed text; the customers renamed are no step's below.
    DrivePanel(frame, app, text, out);
    frame.XPathPanel()->hide();

    for (const Step& step : kSteps) {
        current = &step;
        const CTreeItem* item = FindItem(tree.Items(), step);
        if (item == nullptr) {
            std::fprintf(stderr, "no %s item %s for %s\n", step.kind, step.label, step.what);
            continue;
        }
        frame.SetActivePane(&tree);
        tree.setCurrentIndex(tree.Model()->Reveal(item));
        QApplication::processEvents();
        Report(out, std::string("tree command: ") + step.what + (step.all ? ", every one" : ""),
               Measure(command(int(step.command)), shown));
    }

    Report(out, "File > Save", Measure(command(ID_FILE_SAVE), settled));
    Report(out, "File > New", Measure(command(ID_FILE_NEW), settled));
    Report(out, "recent file 1", Measure(command(ID_FILE_MRU_FILE1), shown));
    {
        DialogAnswers answers(dsn, QStringLiteral("SELECT id, name, price, qty, created, note "
                                                  "FROM big ORDER BY id"));
        Report(out, "Get Xml Data (rows as elements)", Measure(command(ID_GET_XML_DATA), [&] {
                   return Shown(app) && app.Document().GetPathName().ends_with("Quorreldata.xml");
               }));
    }
    Report(out, "File > New after Get Xml Data", Measure(command(ID_FILE_NEW), settled));
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(out, "peak\t%.1f\n", PeakMb(usage));
    app.LeaveDocumentAtExit();
}

// A program run from outside: wall time, and for the window the time until
// it printed "ready" and from there to its end.
struct Outside {
    double wall = 0;
    double ready = 0;
    double peakMb = 0;
    bool ok = false;
};

Outside RunOutside(const std::vector<std::string>& args, bool waitForReady) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    QElapsedTimer timer;
    timer.start();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    Outside result;
    char buffer[4096];
    std::string seen;
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
        if (waitForReady && result.ready == 0) {
            seen.append(buffer, std::size_t(got));
            if (seen.find("ready\n") != std::string::npos) {
                result.ready = Seconds(timer.nsecsElapsed());
            }
        }
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.wall = Seconds(timer.nsecsElapsed());
    result.peakMb = PeakMb(usage);
    result.ok =
        WIFEXITED(status) && WEXITSTATUS(status) == 0 && (!waitForReady || result.ready > 0);
    return result;
}

struct Series {
    std::vector<double> wall, ready, exit;
    double peak = 0;
};

Series RunsOf(const std::vector<std::string>& args, bool waitForReady, int runs) {
    Series s;
    for (int i = 0; i < runs; ++i) {
        Outside o = RunOutside(args, waitForReady);
        if (!o.ok) {
            std::fprintf(stderr, "failed: %s\n", args.front().c_str());
            continue;
        }
        s.wall.push_back(o.wall);
        if (waitForReady) {
            s.ready.push_back(o.ready);
            s.exit.push_back(o.wall - o.ready);
        }
        s.peak = std::max(s.peak, o.peakMb);
    }
    return s;
}

// The 100,000-row table of the database benchmark in a SQLite file, with a
// data source for it; the driver manager reads the files named here.
QString MakeDataSource(const QTemporaryDir& dir, int rows) {
    const QString db = dir.filePath(QStringLiteral("big.db"));
    const std::string sql =
        "CREATE TABLE big (id INTEGER, name VARCHAR(40), price DECIMAL(10,2), qty INTEGER, "
        "created DATE, note TEXT);\n"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(rows) +
        ") INSERT INTO big SELECT i, 'Product ' || i, (i % 1000) + 0.25, i % 97, "
        "date('2024-01-01', '+' || (i % 365) || ' days'), 'Note for row ' || i || "
        "': handmade, boxed & labelled <ok>' FROM n;\n";
    std::FILE* sqlite = popen(("sqlite3 '" + db.toStdString() + "'").c_str(), "w");
    if (sqlite == nullptr) {
        return {};
    }
    std::fputs(sql.c_str(), sqlite);
    if (pclose(sqlite) != 0) {
        return {};
    }
    const char* lib = std::getenv("ODBC_LIB");
    std::ofstream(dir.filePath(QStringLiteral("odbcinst.ini")).toStdString())
        << "[SQLite3]\nDriver=" << (lib ? lib : "/usr/lib/x86_64-linux-gnu/odbc")
        << "/libsqlite3odbc.so\n";
    std::ofstream(dir.filePath(QStringLiteral("odbc.ini")).toStdString())
        << "[bench]\nDriver=SQLite3\nDatabase=" << db.toStdString() << "\nNoCreat=1\n";
    qputenv("ODBCSYSINI", dir.path().toUtf8());
    qputenv("ODBCINI", dir.filePath(QStringLiteral("odbc.ini")).toUtf8());
    return QStringLiteral("bench");
}

void PrintWindowRows(double mb, std::FILE* in) {
    char line[512];
    while (std::fgets(line, sizeof line, in) != nullptr) {
        std::string row(line);
        row.pop_back();
        const auto tab = row.find('\t');
        const std::string what = row.substr(0, tab);
        if (what == "peak after open" || what == "peak") {
            const char* when = what == "peak" ? "after every action" : "with the document open";
            std::printf(
                "ROW\twindow: peak memory %s\t%.0f MB\t-\t-\t1\t-\t%.0f MB\t%.1f x the file\n",
                when, mb, std::atof(row.c_str() + tab + 1), std::atof(row.c_str() + tab + 1) / mb);
            continue;
        }
        double wall = 0, stall = 0;
        std::sscanf(row.c_str() + tab + 1, "%lf\t%lf", &wall, &stall);
        PrintRow("window: " + what + ", until done", mb, {wall}, false, 0, 0, "");
        PrintRow("window: " + what + ", longest stall", mb, {stall}, false, 0, 0, "");
    }
}

}  // namespace

int main(int argc, char** argv) {
    TuneAllocator();
    std::string appPath, cliPath;
    int rows = 100000;
    int runs = 3;
    bool xpathOnly = false;
    std::vector<double> sizes;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--app" && i + 1 < argc) {
            appPath = argv[++i];
        } else if (arg == "--cli" && i + 1 < argc) {
            cliPath = argv[++i];
        } else if (arg == "--rows" && i + 1 < argc) {
            rows = std::atoi(argv[++i]);
        } else if (arg == "--xpath-only") {
            xpathOnly = true;
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            sizes.push_back(std::atof(arg.c_str()));
        }
    }
    if (appPath.empty() || cliPath.empty()) {
        std::fprintf(
            stderr, "usage: %s --app QUORREL --cli QUORREL_CLI [--rows N] [--xpath-only] [MB...]\n",
            argv[0]);
        return 64;
    }
    if (sizes.empty()) {
        sizes = {10, 50, 100};
    }
    QTemporaryDir dir;
    const QString dsn = MakeDataSource(dir, rows);
    if (dsn.isEmpty()) {
        std::fprintf(stderr, "could not make the SQLite data source\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    for (double mb : sizes) {
        const std::string path = dir.filePath(QStringLiteral("bench-%1.xml").arg(mb)).toStdString();
        std::ofstream(path, std::ios::binary) << GenerateDocument(std::size_t(mb * 1024 * 1024));

        // From outside: start-up with the file, and the outside tools.
        if (!xpathOnly) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("QUORREL_QUIT_WHEN_READY", "1", 1);
            Series lint = RunsOf({"xmllint", "--noout", path}, false, runs);
            Series start = RunsOf({appPath, path}, true, runs);
            unsetenv("QUORREL_QUIT_WHEN_READY");
            const double lintMedian = MedianOf(lint.wall);
            PrintRow("xmllint --noout (outside tool)", mb, lint.wall, true, lint.peak, 0, "");
            PrintRow("start-up with the file until both panes are usable", mb, start.ready, false,
                     start.peak, lintMedian, "xmllint --noout");
            PrintRow("from usable to the end of the process (Exit)", mb, start.exit, false, 0, 0,
                     "");

            const std::string renamed = path + ".renamed";
            Series starlet =
                RunsOf({"sh", "-c",
                        "xmlstarlet ed -r //order -v purchase '" + path + "' > '" + renamed + "'"},
                       false, runs);
            Series cli =
                RunsOf({"sh", "-c",
                        "'" + cliPath + "' edit '" + path +
                            "' 0.1 rename-element --name purchase --all > '" + renamed + "'"},
                       false, runs);
            PrintRow("xmlstarlet ed -r //order (outside tool)", mb, starlet.wall, true,
                     starlet.peak, 0, "");
            PrintRow("quorrel-cli edit rename-element --all", mb, cli.wall, true, cli.peak,
                     MedianOf(starlet.wall), "xmlstarlet");
            std::remove(renamed.c_str());
        }

        // In the window, in a child of its own.
        std::FILE* results = std::tmpfile();
        pid_t pid = fork();
        if (pid == 0) {
            DriveWindow(QString::fromStdString(path), dsn, results, xpathOnly, argc, argv);
            std::fflush(results);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        std::rewind(results);
        PrintWindowRows(mb, results);
        std::fclose(results);
        std::remove(path.c_str());
    }
    return 0;
}
