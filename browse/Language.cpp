#include "browse/Language.h"

#include <QLocale>

TLanguage ResolveLanguage(TLanguage value, unsigned languageId) {
    if (value != lnSysDefault) return value;
    const unsigned primary = languageId & 0x3FF;
    const unsigned sub = (languageId >> 10) & 0x3F;
    switch (primary) {
        case 0x04:
            return sub == 2 ? lnChinese_Sim : lnChinese_Tra;
        case 0x07:
            return lnGerman;
        case 0x0A:
            return lnSpanish;
        case 0x0C:
            return lnFrench;
        case 0x10:
            return lnItalian;
        case 0x13:
            return lnDutch;
        case 0x15:
            return lnPolish;
        case 0x16:
            return lnPortuguese;
        case 0x1B:
            return lnSlovak;
        default:
            return lnEnglish;
    }
}

namespace {

// Windows primary language numbers of the locales we translate (and English).
unsigned languageIdOf(const QLocale& locale) {
    switch (locale.language()) {
        case QLocale::Chinese: {
            const bool simplified = locale.script() == QLocale::SimplifiedHanScript ||
                                    (locale.script() == QLocale::AnyScript &&
                                     (locale.territory() == QLocale::China ||
                                      locale.territory() == QLocale::Singapore));
            return 0x04 | ((simplified ? 2u : 1u) << 10);
        }
        case QLocale::German:
            return 0x07 | (1u << 10);
        case QLocale::English:
            return 0x09 | (1u << 10);
        case QLocale::Spanish:
            return 0x0A | (1u << 10);
        case QLocale::French:
            return 0x0C | (1u << 10);
        case QLocale::Italian:
            return 0x10 | (1u << 10);
        case QLocale::Dutch:
            return 0x13 | (1u << 10);
        case QLocale::Polish:
            return 0x15 | (1u << 10);
        case QLocale::Portuguese:
            return 0x16 | (1u << 10);
        case QLocale::Slovak:
            return 0x1B | (1u << 10);
        default:
            return 0;
    }
}

}  // namespace

unsigned SystemLanguageId() {
    return languageIdOf(QLocale::system());
}

unsigned UserLanguageId() {
    return languageIdOf(QLocale());
}
