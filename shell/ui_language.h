#pragma once
// The interface's language: Chinese (the texts as written in the sources) or English (our
// translation, built from res/translations/facetta_en.ts). Qt's own dialogs and buttons follow
// through Qt's translations.
#include <QStringList>

enum class UiLanguage { Chinese, English };

// The language for a list of the user's languages, most preferred first (as
// QLocale::uiLanguages() gives them): the first Chinese or English entry decides; a list
// that names no language (C, POSIX, nothing) gives Chinese, any other language English.
UiLanguage ChooseUiLanguage(const QStringList& uiLanguages);

// Installs our translation and Qt's own for `language`, replacing those of an earlier call.
// `uiLanguages` picks the Chinese variant of Qt's texts (traditional for zh-TW, zh-HK, Hant).
// False when a translation could not be loaded (for Chinese: Qt's own, whose dialogs then
// stay in English).
bool InstallUiLanguage(UiLanguage language, const QStringList& uiLanguages);

// Chooses from the system's languages and installs; what main() calls.
UiLanguage InstallSystemUiLanguage();

// Takes out what InstallUiLanguage installed: the texts as written in the sources.
void RemoveUiLanguage();
