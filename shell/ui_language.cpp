#include "ui_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

QTranslator& OurTranslator() {
    static QTranslator* s_p = new QTranslator;
    return *s_p;
}

QTranslator& QtTranslator() {
    static QTranslator* s_p = new QTranslator;
    return *s_p;
}

bool IsTraditional(const QString& strTag) {
    const QLocale locale(strTag);
    return locale.script() == QLocale::TraditionalHanScript ||
           locale.territory() == QLocale::Taiwan || locale.territory() == QLocale::HongKong ||
           locale.territory() == QLocale::Macao;
}

}  // namespace

UiLanguage ChooseUiLanguage(const QStringList& uiLanguages) {
    bool bNamesLanguage = false;
    for (const QString& strTag : uiLanguages) {
        const QString strLower = strTag.toLower();
        if (strLower.isEmpty() || strLower == QLatin1String("c") ||
            strLower == QLatin1String("posix") || strLower.startsWith(QLatin1String("c.")))
            continue;
        const QLocale::Language language = QLocale(strTag).language();
        if (language == QLocale::Chinese) return UiLanguage::Chinese;
        if (language == QLocale::English) return UiLanguage::English;
        if (language != QLocale::C && language != QLocale::AnyLanguage) bNamesLanguage = true;
    }
    return bNamesLanguage ? UiLanguage::English : UiLanguage::Chinese;
}

bool InstallUiLanguage(UiLanguage language, const QStringList& uiLanguages) {
    RemoveUiLanguage();
    if (language == UiLanguage::English) {
        // Qt's own texts are English already.
        if (!OurTranslator().load(QStringLiteral(":/i18n/facetta_en.qm"))) return false;
        QCoreApplication::installTranslator(&OurTranslator());
        return true;
    }
    QString strVariant = QStringLiteral("zh_CN");
    for (const QString& strTag : uiLanguages) {
        if (QLocale(strTag).language() != QLocale::Chinese) continue;
        if (IsTraditional(strTag)) strVariant = QStringLiteral("zh_TW");
        break;
    }
    const QString strDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QtTranslator().load(QStringLiteral("qtbase_") + strVariant, strDir)) return false;
    QCoreApplication::installTranslator(&QtTranslator());
    return true;
}

UiLanguage InstallSystemUiLanguage() {
    const QStringList uiLanguages = QLocale::system().uiLanguages();
    const UiLanguage language = ChooseUiLanguage(uiLanguages);
    InstallUiLanguage(language, uiLanguages);
    return language;
}

void RemoveUiLanguage() {
    QCoreApplication::removeTranslator(&OurTranslator());
    QCoreApplication::removeTranslator(&QtTranslator());
}
