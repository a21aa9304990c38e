#pragma once

#include <QIcon>
#include <QImage>
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
// The program's icon: the About logo's landscape under a tile grid, on a
// square. The installed icons are this drawing at 48, 128 and 256 pixels;
// packaging/icons holds the same shapes as a scalable SVG.
QImage AppIconImage(int size);
QIcon AppIcon();

}  // namespace trelvi::gui
