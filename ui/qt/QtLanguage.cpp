#include "ui/qt/QtLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace ue {

std::unique_ptr<QTranslator> InstallQtTranslations(Language language) {
    if (language != Language::Chinese) return nullptr;
    auto translator = std::make_unique<QTranslator>();
    // qtbase_zh_CN.qm: the widgets' texts.
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get())) {
        return nullptr;
    }
    return translator;
}

}  // namespace ue
