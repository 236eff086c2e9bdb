// Times one command of the window as the user starts it, and how long the event loop was kept
// from running meanwhile (the longest repaint gap of the window and its viewers):
//   window-bench [--compress] FILE...   FITS files are displayed, SPE files converted (as the
//                             window's OpenFiles does; --compress: with its compression
//                             choice on); prints "seconds S gap-ms G".
// Runs on any Qt platform (offscreen under the benchmark). Messages go to standard error.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fits/ui/frm_fits.h"
#include "orlix/application.h"
#include "orlix/viewer/document_viewer.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    std::vector<std::string> files(argv + 1, argv + argc);
    const bool compress = !files.empty() && files.front() == "--compress";
    if (compress) files.erase(files.begin());
    if (files.empty()) {
        std::fputs("usage: window-bench [--compress] FILE...\n", stderr);
        return 2;
    }
    orlix::Application app;
    orlix::ViewerHost viewers(app);
    fits::ui::frmFITS window(app, std::make_unique<fits::ui::QtFileDialog>());
    window.show_message = [](const std::string& text, const std::string&) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    window.ask = [](const std::string&) { return false; };
    viewers.CloseWith(&window);
    if (compress) window.findChild<QAction*>("actCompress")->trigger();
    window.show();

    // A tick every 5 ms: the longest time between two ticks is the longest the loop was kept.
    QElapsedTimer since_tick, clock;
    qint64 longest = 0;
    bool running = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (running) longest = std::max(longest, since_tick.elapsed());
        since_tick.restart();
    });
    tick.start(5);
    QTimer::singleShot(200, &window, [&] {
        clock.start();
        since_tick.restart();
        running = true;
        window.OpenFiles(files);
        running = false;
        longest = std::max(longest, since_tick.elapsed());
        std::printf("seconds %.3f gap-ms %lld\n", static_cast<double>(clock.elapsed()) / 1000,
                    static_cast<long long>(longest));
        std::fflush(stdout);
        viewers.CloseAll();
        QApplication::quit();
    });
    return QApplication::exec();
}
