#pragma once

#include <QObject>

// Languages of the file-browsing components. The enumeration lives in a Qt namespace so that
// components can publish it as a property (write the property type as
// VelkaroBrowse::TLanguage in Q_PROPERTY); the type and its values are also visible at global
// scope for ordinary code.
namespace VelkaroBrowse {
Q_NAMESPACE

enum TLanguage {
    lnSysDefault,
    lnEnglish,
    lnChinese_Tra,
    lnChinese_Sim,
    lnDutch,
    lnFrench,
    lnGerman,
    lnItalian,
    lnPolish,
    lnPortuguese,
    lnSlovak,
    lnSpanish
};
Q_ENUM_NS(TLanguage)

}  // namespace VelkaroBrowse

using VelkaroBrowse::TLanguage;
using enum VelkaroBrowse::TLanguage;

// Resolves lnSysDefault from a Windows-style language identifier (primary language in the low
// 10 bits, sub-language in the next 6). Any other value is returned unchanged.
TLanguage ResolveLanguage(TLanguage value, unsigned languageId);

// The language identifier of the running system, built from QLocale::system(): primary
// language codes as Windows numbers them (0x04 Chinese, 0x07 German, ...), sub-language 2 for
// simplified Chinese and 1 for traditional Chinese. Used for lnSysDefault by both the file list
// (system default) and the combo (user default); on Linux both are the same locale.
unsigned SystemLanguageId();
unsigned UserLanguageId();
