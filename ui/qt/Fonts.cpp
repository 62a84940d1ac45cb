#include "ui/qt/Fonts.h"

#include <QApplication>
#include <QFontDatabase>

#include "ui/Layout.h"

namespace ue {

QString SongFamily() {
    static const QString family = [] {
        for (const char8_t* face : layout::kFontFaces) {
            const QString candidate = QString::fromUtf8(face);
            if (QFontDatabase::hasFamily(candidate)) return candidate;
        }
        return QApplication::font().family();
    }();
    return family;
}

QFont SongFont(int pixelHeight) {
    QFont font(SongFamily());
    font.setPixelSize(pixelHeight);
    return font;
}

}  // namespace ue
