// The window offscreen, from the user's action to the result on screen: Open
// until both panes are shown (text coloured, tree built and expanded), with the
// longest time the window did not answer input during it; the first activation
// of the tree; the caret's first jump to the end (shown, then coloured between
// events) and the panes following each other there; one keystroke (insert,
// restyle, repaint) in the middle of the document, with folding and the typing
// check off and on, and while a check runs; the typing check's parts (the text's copy on the
// window's thread, the parse on the worker, the pause until the mark shows); folding the document
// element; and the process's peak memory. Beside each size a bare libxml2
// parse of the same bytes, timed in a child before the window starts.
#include <libxml/parser.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemModel>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/ui/MainFrame.h"
#include "app/ui/XmlEditApp.h"
#include "bench/BenchDocuments.h"
#include "bench/BenchTable.h"
#include "bench/SilentUi.h"
#include "framework/ui/Allocator.h"
#include "framework/ui/Commands.h"
#include "framework/ui/UserInterface.h"
#include "views/source/core/WellFormedCheck.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"
#include "views/tree/ui/TreeModel.h"

namespace {

using namespace quorrel;

constexpr int kRuns = 5;
constexpr int kKeys = 10;

struct Size {
    double mb = 0;
    std::string path;
    std::vector<double> bare;
    std::vector<double> check;  // CheckWellFormed on the same bytes
};

// Runs in a child so the generated text and the reference parse leave no
// trace in this process's peak memory.
template <typename F>
void InChild(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

// Times parse(text) kRuns times in a child, on the file's bytes.
std::vector<double> TimeInChild(const std::string& path,
                                const std::function<void(const std::string&)>& parse) {
    std::vector<double> times(kRuns, 0);
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    InChild([&] {
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (double& t : times) {
            QElapsedTimer timer;
            timer.start();
            parse(text);
            t = double(timer.nsecsElapsed()) / 1e9;
        }
        ssize_t ignored = write(fds[1], times.data(), times.size() * sizeof(double));
        (void)ignored;
    });
    close(fds[1]);
    ssize_t got = read(fds[0], times.data(), times.size() * sizeof(double));
    close(fds[0]);
    return got == ssize_t(times.size() * sizeof(double)) ? times : std::vector<double>{};
}

std::vector<double> BareParse(const std::string& path) {
    return TimeInChild(path, [](const std::string& text) {
        xmlFreeDoc(xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0));
    });
}

std::vector<double> TypingCheck(const std::string& path) {
    return TimeInChild(path, [](const std::string& text) {
        if (CheckWellFormed(text).status != WellFormedResult::Status::WellFormed) {
            std::fprintf(stderr, "the generated document is not well-formed\n");
        }
    });
}

double Seconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

// Handles events until done() or the time is up; false on time-out.
template <typename F>
bool WaitFor(F done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// One keystroke as the bench types it: insert, restyle, repaint.
double Keystroke(CDView& view, const char* text = "x") {
    QElapsedTimer timer;
    timer.start();
    view.SendScintilla(QsciScintilla::SCI_ADDTEXT, 1UL, text);
    view.repaint();
    return Seconds(timer);
}

// The colouring has caught up with the lines on screen: it runs between
// events after a jump, as a user's pause before typing would let it.
bool ColouredOnScreen(CDView& view) {
    const long lastShown = view.SendScintilla(
        QsciScintilla::SCI_DOCLINEFROMVISIBLE,
        static_cast<unsigned long>(view.SendScintilla(QsciScintilla::SCI_GETFIRSTVISIBLELINE) +
                                   view.SendScintilla(QsciScintilla::SCI_LINESONSCREEN)));
    const long end = view.SendScintilla(QsciScintilla::SCI_GETLINEENDPOSITION,
                                        static_cast<unsigned long>(lastShown));
    return view.SendScintilla(QsciScintilla::SCI_GETENDSTYLED) >= end;
}

double PeakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

bool BothPanesReady(CMainFrame& frame) {
    return frame.SourceView()->length() > 0 && frame.TreeView()->model() &&
           frame.TreeView()->model()->rowCount() > 0;
}

}  // namespace

int main(int argc, char** argv) {
    TuneAllocator();
    std::vector<Size> sizes;
    QTemporaryDir dir;
    for (int i = 1; i < argc; ++i) {
        Size s;
        s.mb = std::atof(argv[i]);
        sizes.push_back(s);
    }
    if (sizes.empty()) {
        for (double mb : {1.0, 10.0, 50.0}) {
            sizes.push_back(Size{mb, {}, {}, {}});
        }
    }
    for (Size& s : sizes) {
        s.path = dir.filePath(QStringLiteral("bench-%1.xml").arg(s.mb)).toStdString();
        InChild([&] {
            std::ofstream(s.path, std::ios::binary)
                << GenerateDocument(std::size_t(s.mb * 1024 * 1024));
        });
        s.bare = BareParse(s.path);
        s.check = TypingCheck(s.path);
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    double keyReference = 0;
    for (const Size& s : sizes) {
        QString path = QString::fromStdString(s.path);
        double bareMedian = MedianOf(s.bare);
        std::vector<double> opens, texts, stalls, activations, keysOff, keysOn, keysDuringCheck,
            copies, firstCopies, marks, folds, unfolds, firstMovesToEnd, colouredAtEnd,
            caretFollows, treeFollows;
        const bool checked = s.mb * 1024 * 1024 <= double(kTypingCheckMaxBytes);
        for (int run = 0; run < kRuns; ++run) {
            auto silent = std::make_unique<SilentUi>(/*yes=*/false);
            silent->openName = path;
            CXmlEditApp app(std::move(silent));
            app.InitInstance();
            CMainFrame& frame = app.Frame();
            frame.resize(1100, 700);
            QApplication::processEvents();

            // File > Open from the event loop, with a 1 ms timer recording the
            // longest gap in which no event was handled once the text is shown.
            QElapsedTimer timer, sinceTick;
            qint64 longestGap = 0;
            double textShown = 0;
            QTimer ticker;
            ticker.setInterval(1);
            QObject::connect(&ticker, &QTimer::timeout, [&] {
                if (textShown == 0 && frame.SourceView()->length() > 0) {
                    textShown = double(timer.nsecsElapsed()) / 1e9;
                    sinceTick.restart();
                }
                if (textShown > 0) {
                    longestGap = std::max(longestGap, sinceTick.nsecsElapsed());
                }
                sinceTick.restart();
            });
            QTimer::singleShot(0, [&] { frame.OnCommand(ID_FILE_OPEN); });
            timer.start();
            sinceTick.start();
            ticker.start();
            QApplication::processEvents();
            while (app.IsOpening() || !BothPanesReady(frame)) {
                QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            }
            frame.repaint();
            frame.SourceView()->repaint();
            frame.TreeView()->viewport()->repaint();
            opens.push_back(double(timer.nsecsElapsed()) / 1e9);
            longestGap = std::max(longestGap, sinceTick.nsecsElapsed());
            ticker.stop();
            texts.push_back(textShown > 0 ? textShown : opens.back());
            stalls.push_back(double(longestGap) / 1e9);

            // First activation of the tree after the text was shown.
            timer.restart();
            frame.SetActivePane(frame.TreeView());
            frame.TreeView()->viewport()->repaint();
            activations.push_back(double(timer.nsecsElapsed()) / 1e9);

            CDView& view = *frame.SourceView();
            CClassView& tree = *frame.TreeView();
            // The panes following each other at the end of the document: the
            // caret moved into a CDATA section whose item is not shown yet,
            // until the tree has selected and drawn it (the caret's move is
            // reported as the pane paints); then the last order chosen in the
            // tree, until the caret stands on it.
            frame.SetActivePane(&view);
            const std::string& text = app.Document().Text();
            const auto inCdata = static_cast<unsigned long>(text.rfind("Leave at the door"));
            // The first move there colours all the text before it, between events.
            const auto inCustomer = static_cast<unsigned long>(text.rfind("<customer"));
            timer.restart();
            view.SendScintilla(QsciScintilla::SCI_GOTOPOS, inCustomer);
            view.repaint();
            tree.viewport()->repaint();
            firstMovesToEnd.push_back(Seconds(timer));
            if (WaitFor([&] { return ColouredOnScreen(view); }, 60000)) {
                colouredAtEnd.push_back(Seconds(timer));
            }
            timer.restart();
            view.SendScintilla(QsciScintilla::SCI_GOTOPOS, inCdata);
            view.repaint();
            tree.viewport()->repaint();
            const CTreeItem* found = TreeModel::ItemOf(tree.currentIndex());
            if (found != nullptr && found->image() == IMG_CDATA) {
                caretFollows.push_back(Seconds(timer));
            }
            const CTreeItem* lastOrder = &tree.Items().GetRootItem()->children().back();
            frame.SetActivePane(&tree);
            timer.restart();
            tree.setCurrentIndex(tree.Model()->Reveal(lastOrder));
            view.repaint();
            if (view.CaretOffset() == long(lastOrder->textOffset())) {
                treeFollows.push_back(Seconds(timer));
            }

            frame.SetActivePane(&view);
            // Back as opened: coloured no further than the first screen.
            view.SendScintilla(QsciScintilla::SCI_GOTOPOS, 0UL);
            view.SendScintilla(QsciScintilla::SCI_CLEARDOCUMENTSTYLE);
            view.SendScintilla(QsciScintilla::SCI_STARTSTYLING, 0UL, 0L);
            view.repaint();
            // Folding the document element just after the open styles every
            // line before it can hide them.
            timer.restart();
            view.SendScintilla(QsciScintilla::SCI_TOGGLEFOLD, 1UL);
            view.repaint();
            folds.push_back(Seconds(timer));
            timer.restart();
            view.SendScintilla(QsciScintilla::SCI_TOGGLEFOLD, 1UL);
            view.repaint();
            unfolds.push_back(Seconds(timer));
            // As before folding and the typing check.
            view.EnableFolding(false);
            view.EnableTypingCheck(false);
            view.setCursorPosition(view.lines() / 2, 0);
            view.SendScintilla(QsciScintilla::SCI_SCROLLCARET);
            view.repaint();
            WaitFor([&] { return ColouredOnScreen(view); }, 60000);
            for (int k = 0; k < kKeys; ++k) {
                keysOff.push_back(Keystroke(view));
            }
            // Both on, as the window starts.
            view.EnableFolding(true);
            view.EnableTypingCheck(true);
            view.SendScintilla(QsciScintilla::SCI_SCROLLCARET);
            view.repaint();
            WaitFor([&] { return ColouredOnScreen(view); }, 60000);
            for (int k = 0; k < kKeys; ++k) {
                keysOn.push_back(Keystroke(view));
            }
            if (checked) {
                // A keystroke that stops a check under way.
                if (WaitFor([&] { return view.TypingCheckRunning(); }, 5000)) {
                    keysDuringCheck.push_back(Keystroke(view));
                }
                // From the last keystroke of an error to its mark.
                timer.restart();
                Keystroke(view, "<");
                if (WaitFor([&] { return view.HasTypingErrorMark(); }, 10000)) {
                    marks.push_back(Seconds(timer));
                }
                view.SendScintilla(QsciScintilla::SCI_DELETEBACK);
                WaitFor([&] { return !view.HasTypingErrorMark(); }, 10000);
            }
            // The first check's copy goes to fresh memory; every later one
            // into the buffer of the one before.
            std::string copy;
            timer.restart();
            view.CopyTextInto(copy);
            firstCopies.push_back(Seconds(timer));
            timer.restart();
            view.CopyTextInto(copy);
            copies.push_back(Seconds(timer));
            copy = std::string();
        }
        // The peak so far; sizes run in ascending order, so it is this size's.
        double peak = PeakMb();
        PrintRow("libxml2 xmlReadMemory (reference)", s.mb, s.bare, true, 0, 0, "");
        PrintRow("window: open until both panes shown", s.mb, opens, true, peak, bareMedian,
                 "xmlReadMemory");
        PrintRow("window: open until the text is shown", s.mb, texts, true, 0, 0, "");
        PrintRow("window: longest stall after the text is shown", s.mb, stalls, false, 0, 0, "");
        PrintRow("window: first tree activation", s.mb, activations, false, 0, 0, "");
        PrintRow("window: caret moved to the end first, until shown", s.mb, firstMovesToEnd, false,
                 0, 0, "");
        PrintRow("window: the same, until coloured (between events)", s.mb, colouredAtEnd, false, 0,
                 0, "");
        PrintRow("window: caret moved at the end, until the tree shows its item", s.mb,
                 caretFollows, false, 0, 0, "");
        PrintRow("window: tree item chosen at the end, until the caret is on it", s.mb, treeFollows,
                 false, 0, 0, "");
        if (keyReference == 0) {
            keyReference = MedianOf(keysOff);
        }
        const std::string reference =
            "keystroke at " + std::to_string(int(sizes.front().mb)) + " MB, both off";
        const bool first = s.mb == sizes.front().mb;
        PrintRow("window: keystroke mid-document, folding and check off", s.mb, keysOff, false, 0,
                 first ? 0 : keyReference, reference);
        PrintRow("window: keystroke mid-document, folding and check on", s.mb, keysOn, false, 0,
                 keyReference, reference);
        if (checked) {
            PrintRow("window: keystroke that stops a running check", s.mb, keysDuringCheck, false,
                     0, keyReference, reference);
            PrintRow("window: typing check, last keystroke to mark (0.5 s pause incl.)", s.mb,
                     marks, false, 0, 0, "");
        }
        PrintRow("typing check: first copy of the text (window thread)", s.mb, firstCopies, true, 0,
                 0, "");
        PrintRow("typing check: later copies of the text (window thread)", s.mb, copies, true, 0, 0,
                 "");
        PrintRow(
            std::string("typing check: parse (worker)") + (checked ? "" : ", not run at this size"),
            s.mb, s.check, true, 0, bareMedian, "xmlReadMemory");
        PrintRow("window: fold the document element (first time)", s.mb, folds, false, 0, 0, "");
        PrintRow("window: unfold it", s.mb, unfolds, false, 0, 0, "");
    }
    return 0;
}
