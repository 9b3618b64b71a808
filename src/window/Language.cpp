#include "window/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vx {

std::optional<Language> chooseLanguage(const QStringList &arguments, const QString &localeName, QString *error)
{
    for (int i = 1; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == QLatin1String("--lang"))
            value = arguments.value(i + 1);
        else if (arguments[i].startsWith(QLatin1String("--lang=")))
            value = arguments[i].mid(7);
        else
            continue;
        if (value == QLatin1String("zh"))
            return Language::Chinese;
        if (value == QLatin1String("en"))
            return Language::English;
        *error = QStringLiteral("--lang: \"%1\" is not zh or en").arg(value);
        return std::nullopt;
    }
    return localeName.startsWith(QLatin1String("en")) ? Language::English : Language::Chinese;
}

bool installLanguage(Language language)
{
    auto *app = QCoreApplication::instance();
    // A second call replaces what the first installed.
    for (QTranslator *old : app->findChildren<QTranslator *>(QStringLiteral("vxmon-language"), Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(old);
        delete old;
    }
    auto *own = new QTranslator(app);
    auto *qt = new QTranslator(app);
    own->setObjectName(QStringLiteral("vxmon-language"));
    qt->setObjectName(QStringLiteral("vxmon-language"));
    if (language == Language::English) {
        // Qt's own texts are English as written.
        if (!own->load(QStringLiteral(":/i18n/vxmon_en.qm")))
            return false;
        QCoreApplication::installTranslator(own);
        return true;
    }
    // Standard buttons read 确定 and 取消.
    if (qt->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    return true;
}

} // namespace vx
