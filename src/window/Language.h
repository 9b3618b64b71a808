#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vx {

enum class Language { Chinese, English };

// The window's language: "--lang zh|en" wins; else the system locale's name
// (en_*: English; zh_* or anything else: Chinese). Nothing, and *error, for
// a --lang that is neither.
std::optional<Language> chooseLanguage(const QStringList &arguments, const QString &localeName, QString *error);

// Installs the window's translation and Qt's own (dialog buttons) for the
// language (replacing those of an earlier call); Chinese is the texts as
// written. False when a translation is missing. Widgets made before keep
// their texts.
bool installLanguage(Language language);

} // namespace vx
