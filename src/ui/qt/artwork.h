#pragma once

#include <QIcon>
#include <QPixmap>

namespace trelvi::gui {

// The program's pictures, drawn in code so that the program carries no image
// files: one icon per operation mode, the About view's logo and the tick and
// cross of the RAW dimensions dialog.
enum class ModeArt { Convert, Crop, Resize, Split, Merge, About };

QIcon ModeIcon(ModeArt mode);
QPixmap AboutLogo();  // 96 × 64
QIcon TickIcon();
QIcon CrossIcon();
QIcon AppIcon();

}  // namespace trelvi::gui
