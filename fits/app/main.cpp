// The FITS converter program: the window, wired to the embedded acquisition application,
// whose viewer shows the documents it creates.
#include <QApplication>

#include "fits/ui/frm_fits.h"
#include "orlix/application.h"
#include "orlix/viewer/document_viewer.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName("FITS");
    orlix::Application app;
    orlix::ViewerHost viewers(app);
    fits::ui::frmFITS window(app, std::make_unique<fits::ui::QtFileDialog>());
    // The viewers belong to the application embedded in this process: they close with the
    // window, and the program ends.
    viewers.CloseWith(&window);
    window.show();
    return QApplication::exec();
}
