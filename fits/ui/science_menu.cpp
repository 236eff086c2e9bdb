#include "fits/ui/science_menu.h"

#include <QAction>
#include <QWidget>

namespace fits::ui {

void AttachScienceMenu(QWidget* anchor, ScienceOptions& options) {
    struct Choice {
        const char* name;
        const char* text;
        bool ScienceOptions::*field;
    };
    static constexpr Choice kChoices[] = {
        {"actMetadata", "Add the file's metadata (wavelength axis, date, detector)",
         &ScienceOptions::metadata},
        {"actBzero", "Unsigned data as signed with BZERO (16 and 32 bits)", &ScienceOptions::bzero},
        {"actRegions", "Regions of different widths as image extensions", &ScienceOptions::regions},
        {"actCompress", "Compress the FITS files (lossless tile compression)",
         &ScienceOptions::compress},
    };
    anchor->setContextMenuPolicy(Qt::ActionsContextMenu);
    anchor->setToolTip("Right-click for more choices of the Standard header");
    for (const Choice& choice : kChoices) {
        auto* action = new QAction(choice.text, anchor);
        action->setObjectName(choice.name);
        action->setCheckable(true);
        action->setChecked(options.*choice.field);
        QObject::connect(action, &QAction::toggled, anchor,
                         [&options, field = choice.field](bool on) { options.*field = on; });
        anchor->addAction(action);
    }
}

}  // namespace fits::ui
