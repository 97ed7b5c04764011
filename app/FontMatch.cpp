#include "FontMatch.h"

#include <QFontDatabase>
#include <QHash>
#include <QStringList>

#include <fontconfig/fontconfig.h>

namespace cvkapp {

namespace {

QString askFontConfiguration(const QString& family) {
    const QByteArray name = family.toUtf8();
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) {
        return {};
    }
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.constData()));
    // The same rules the desktop applies: aliases such as "Times New Roman" -> a metric
    // compatible serif, then the generic defaults.
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    QString answer;
    FcChar8* matched = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch) {
        answer = QString::fromUtf8(reinterpret_cast<const char*>(matched));
    }
    if (match != nullptr) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return answer;
}

// A family that more than one foundry makes is listed, and may come back from the font
// dialog, as "Nimbus Roman [urw]".
QString withoutFoundry(const QString& family) {
    const qsizetype foundry = family.indexOf(QLatin1String(" ["));
    return foundry < 0 ? family : family.left(foundry);
}

// The family as the toolkit lists it, or empty. Not QFontDatabase::hasFamily: that one
// answers yes for a name the configuration merely aliases.
QString listedFamily(const QString& family) {
    static const QStringList families = QFontDatabase::families();
    for (const QString& listed : families) {
        const QString name = withoutFoundry(listed);
        if (name.compare(family, Qt::CaseInsensitive) == 0) {
            return name;
        }
    }
    return {};
}

}  // namespace

QString installedFontFamily(const QString& requested) {
    const QString family = withoutFoundry(requested);
    // GUI thread only, like every font lookup of the toolkit.
    static QHash<QString, QString> known;
    if (const auto found = known.constFind(family); found != known.constEnd()) {
        return *found;
    }
    QString answer = listedFamily(family);
    if (answer.isEmpty() && !family.isEmpty()) {
        answer = listedFamily(askFontConfiguration(family));
    }
    if (answer.isEmpty()) {
        answer = family;
    }
    known.insert(family, answer);
    return answer;
}

}  // namespace cvkapp
