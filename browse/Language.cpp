#include "browse/Language.h"

#include <QLocale>

namespace {

// Windows primary language numbers of the locales we translate (and English); Chinese, whose
// sub-language tells the script, is handled on its own.
constexpr unsigned kPrimaryChinese = 0x04;
struct LanguageRow {
    unsigned primary;
    QLocale::Language locale;
    TLanguage language;
};
constexpr LanguageRow kLanguages[] = {
    {0x07, QLocale::German, lnGerman},   {0x09, QLocale::English, lnEnglish},
    {0x0A, QLocale::Spanish, lnSpanish}, {0x0C, QLocale::French, lnFrench},
    {0x10, QLocale::Italian, lnItalian}, {0x13, QLocale::Dutch, lnDutch},
    {0x15, QLocale::Polish, lnPolish},   {0x16, QLocale::Portuguese, lnPortuguese},
    {0x1B, QLocale::Slovak, lnSlovak},
};

unsigned languageIdOf(const QLocale& locale) {
    if (locale.language() == QLocale::Chinese) {
        const bool simplified =
            locale.script() == QLocale::SimplifiedHanScript ||
            (locale.script() == QLocale::AnyScript &&
             (locale.territory() == QLocale::China || locale.territory() == QLocale::Singapore));
        return kPrimaryChinese | ((simplified ? 2u : 1u) << 10);
    }
    for (const LanguageRow& row : kLanguages)
        if (row.locale == locale.language()) return row.primary | (1u << 10);
    return 0;
}

}  // namespace

TLanguage ResolveLanguage(TLanguage value, unsigned languageId) {
    if (value != lnSysDefault) return value;
    const unsigned primary = languageId & 0x3FF;
    const unsigned sub = (languageId >> 10) & 0x3F;
    if (primary == kPrimaryChinese) return sub == 2 ? lnChinese_Sim : lnChinese_Tra;
    for (const LanguageRow& row : kLanguages)
        if (row.primary == primary) return row.language;
    return lnEnglish;
}

unsigned SystemLanguageId() {
    return languageIdOf(QLocale::system());
}

unsigned UserLanguageId() {
    return languageIdOf(QLocale());
}
