// The FITS converter program: the window, wired to the embedded acquisition application,
// whose viewer shows the documents it creates.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fits/ui/frm_fits.h"
#include "orlix/application.h"
#include "orlix/viewer/document_viewer.h"
#include "project_version.h"

namespace {

const char kUsage[] =
    "Usage: FITS [--help | --version] [FILE...]\n"
    "Opens the window \"Orlix/32 - FITS File Converter\": converts SPE data files to FITS\n"
    "files, composes their header, runs acquisitions and shows FITS files. FILEs given are\n"
    "opened at once: SPE files converted, FITS files displayed.\n"
    "Needs a display; without one, convert with fits-convert or run: xvfb-run FITS\n";

const char kNoDisplay[] =
    "FITS: no display for the window; convert without one with fits-convert, or run "
    "the window under a virtual display: xvfb-run FITS\n";

// While the platform plugin starts, Qt's messages are held back: a start without a display
// ends in a fatal message (and an abort), which is replaced by one line of advice and exit
// status 1. Messages of a successful start are passed on afterwards.
QtMessageHandler g_default_handler = nullptr;
QList<std::pair<QtMsgType, QString>>* g_held = nullptr;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_held)
        g_held->append({type, message});
    else if (g_default_handler)
        g_default_handler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
}

void ReleaseHeldMessages() {
    qInstallMessageHandler(g_default_handler);
    for (const auto& [type, message] : *g_held) {
        if (type == QtDebugMsg)
            qDebug("%s", qUtf8Printable(message));
        else if (type == QtInfoMsg)
            qInfo("%s", qUtf8Printable(message));
        else
            qWarning("%s", qUtf8Printable(message));
    }
    g_held = nullptr;
}

// Answers --help and --version without a display; returns the exit status, or -1 to go on.
int AnswerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("FITS %s\n%s\n", PROJECT_VERSION_TEXT, PROJECT_LICENCE_TEXT);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (int status = AnswerInformationOptions(argc, argv); status >= 0) return status;
    QList<std::pair<QtMsgType, QString>> held;
    g_held = &held;
    g_default_handler = qInstallMessageHandler(StartupMessageHandler);
    QApplication qt(argc, argv);
    ReleaseHeldMessages();
    QApplication::setApplicationName("FITS");
    QApplication::setApplicationVersion(PROJECT_VERSION_TEXT);
    orlix::Application app;
    orlix::ViewerHost viewers(app);
    fits::ui::frmFITS window(app, std::make_unique<fits::ui::QtFileDialog>());
    // The viewers belong to the application embedded in this process: they close with the
    // window, and the program ends.
    viewers.CloseWith(&window);
    window.show();
    // Files the desktop opens with the program ("Open with", FITS FILE.fit).
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') files.emplace_back(argv[i]);
    if (!files.empty())
        QTimer::singleShot(0, &window, [&window, files] { window.OpenFiles(files); });
    return QApplication::exec();
}
