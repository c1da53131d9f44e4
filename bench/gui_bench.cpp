// The window offscreen: from Open until both panes are shown, and one
// keystroke (insert, restyle, repaint) in the middle of the document.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/ui/MainFrame.h"
#include "app/ui/UserInterface.h"
#include "app/ui/XmlEditApp.h"
#include "bench/BenchDocuments.h"
#include "views/source/ui/DView.h"
#include "views/tree/ui/ClassView.h"

namespace {

using namespace quorrel;

class SilentUi : public UserInterface {
public:
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    SaveAnswer AskSaveChanges(const QString&) override { return SaveAnswer::Discard; }
    QString AskOpenFileName() override { return {}; }
    QString AskSaveFileName(const QString&) override { return {}; }
    bool AskYesNo(const QString&) override { return false; }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    std::vector<double> sizes = {1, 10, 50};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) {
            sizes.push_back(std::atof(argv[i]));
        }
    }
    std::printf("%-8s %14s %14s %14s %16s\n", "size", "open (median)", "tree active", "keystroke",
                "keystroke (min)");
    for (double mb : sizes) {
        std::string text = GenerateDocument(std::size_t(mb * 1024 * 1024));
        QString path = dir.filePath(QStringLiteral("bench-%1.xml").arg(mb));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text.data(), qint64(text.size()));
        file.close();

        std::vector<double> opens, activations, keys;
        for (int run = 0; run < 3; ++run) {
            CXmlEditApp app(std::make_unique<SilentUi>());
            app.InitInstance();
            app.Frame().resize(1100, 700);
            QApplication::processEvents();
            QElapsedTimer timer;
            timer.start();
            app.OpenDocumentFile(path);
            app.Frame().repaint();
            app.Frame().SourceView()->repaint();
            app.Frame().TreeView()->viewport()->repaint();
            opens.push_back(timer.nsecsElapsed() / 1e6);

            // First activation of the tree after the text was shown.
            timer.restart();
            app.Frame().SetActivePane(app.Frame().TreeView());
            app.Frame().TreeView()->viewport()->repaint();
            activations.push_back(timer.nsecsElapsed() / 1e6);

            CDView& view = *app.Frame().SourceView();
            app.Frame().SetActivePane(&view);
            view.setCursorPosition(view.lines() / 2, 0);
            view.SendScintilla(QsciScintilla::SCI_SCROLLCARET);
            view.repaint();
            for (int k = 0; k < 10; ++k) {
                timer.restart();
                view.SendScintilla(QsciScintilla::SCI_ADDTEXT, 1UL, "x");
                view.repaint();
                keys.push_back(timer.nsecsElapsed() / 1e6);
            }
        }
        std::printf("%5.0f MB %11.1f ms %11.1f ms %11.2f ms %13.2f ms\n", mb, Median(opens),
                    Median(activations), Median(keys), *std::min_element(keys.begin(), keys.end()));
    }
    return 0;
}
