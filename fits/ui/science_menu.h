// The choices beyond the Standard header (metadata, BZERO, regions), reached from the
// context menu of the "Standard" option so that the window's layout stays as it is. They
// start off and live only as long as the window.
#pragma once

#include "fits/convert/metadata_cards.h"

class QWidget;

namespace fits::ui {

// Adds checkable actions "actMetadata", "actBzero" and "actRegions" to `anchor`'s context
// menu; each one sets its field of `options`, which must outlive the anchor.
void AttachScienceMenu(QWidget* anchor, ScienceOptions& options);

}  // namespace fits::ui
