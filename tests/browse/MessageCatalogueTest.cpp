#include <gtest/gtest.h>

#include "browse/MessageCatalogue.h"

namespace {

const TLanguage kLanguages[] = {lnEnglish,    lnChinese_Tra, lnChinese_Sim, lnDutch,
                                lnFrench,     lnGerman,      lnItalian,     lnPolish,
                                lnPortuguese, lnSlovak,      lnSpanish};

struct TableReset {
    ~TableReset() { ResetMessageTable(); }
};

}  // namespace

TEST(Language, ResolveFromLanguageIdentifiers) {
    EXPECT_EQ(ResolveLanguage(lnPolish, 0x0407), lnPolish);  // only lnSysDefault is resolved
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0407), lnGerman);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0C07), lnGerman);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0804), lnChinese_Sim);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0404), lnChinese_Tra);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0C04), lnChinese_Tra);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x1004), lnChinese_Tra);  // only sub-language 2
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0C0A), lnSpanish);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x080C), lnFrench);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0410), lnItalian);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0813), lnDutch);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0415), lnPolish);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0816), lnPortuguese);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x041B), lnSlovak);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0409), lnEnglish);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0411), lnEnglish);  // Japanese: not translated
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0), lnEnglish);
    // The primary language is the low 10 bits only.
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0007 | (0x3Fu << 10)), lnGerman);
    EXPECT_EQ(ResolveLanguage(lnSysDefault, 0x0407 | 0x10000u), lnGerman);
    EXPECT_NE(ResolveLanguage(lnSysDefault, SystemLanguageId()), lnSysDefault);
}

TEST(Catalogue, EveryRowInEveryLanguage) {
    for (TLanguage lang : kLanguages)
        for (int row = 0; row < CatalogueRowCount; ++row)
            EXPECT_FALSE(CatalogueText(lang, row).trimmed().isEmpty())
                << "language " << int(lang) << " row " << row;
    EXPECT_EQ(CatalogueText(lnEnglish, -1), "");
    EXPECT_EQ(CatalogueText(lnEnglish, CatalogueRowCount), "");
    EXPECT_FALSE(CatalogueText(lnSysDefault, crName).isEmpty());
}

TEST(Catalogue, EnglishTextsKeepTheirBlanksAndMarks) {
    EXPECT_EQ(CatalogueText(lnEnglish, crName), "Name");
    EXPECT_EQ(CatalogueText(lnEnglish, crFreeSpace), "Free Space");
    EXPECT_EQ(CatalogueText(lnEnglish, crDriveRam), "RAM Disk");
    EXPECT_EQ(CatalogueText(lnEnglish, crMenuSendTo), "Se&nd To");
    EXPECT_EQ(CatalogueText(lnEnglish, crMenuNewFolder), "&New Folder...");
    EXPECT_EQ(CatalogueText(lnEnglish, crSendDesktopShortcut), "DeskTop as ShortCut");
    EXPECT_EQ(CatalogueText(lnEnglish, crTreeProperty), "&Property");
    EXPECT_EQ(CatalogueText(lnEnglish, msgDrive), "Drive ");
    EXPECT_EQ(CatalogueText(lnEnglish, msgFolderQuote), "Folder \"");
    EXPECT_EQ(CatalogueText(lnEnglish, msgFile), " file ");
    EXPECT_EQ(CatalogueText(lnEnglish, msgFrom), "From  : ");
    EXPECT_EQ(CatalogueText(lnEnglish, msgTo), "To     : ");
    EXPECT_EQ(CatalogueText(lnEnglish, msgErrorCant), "ERROR - Can't ");
    EXPECT_EQ(CatalogueText(lnEnglish, msgDriveNotReady),
              "There is no disk in Drive or Drive is not ready");
    EXPECT_EQ(CatalogueText(lnEnglish, msgSendToLabel), "Please enter the send_to path");
    EXPECT_EQ(CatalogueText(lnEnglish, msgSubFolders), "and all its Sub-Folders ");
}

TEST(Catalogue, FixedGermanAndFrenchTexts) {
    const char* const germanKinds[] = {"Unbekannt",        "Nicht existent", "Disketten-Laufwerk",
                                       "Lokales Laufwerk", "Netz-Laufwerk",  "CD-ROM-Laufwerk",
                                       "RAM-Laufwerk"};
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(CatalogueText(lnGerman, crDriveUnknown + k), QString::fromUtf8(germanKinds[k]));
    const char* const germanColumns[] = {
        "Dateiname", "Größe", "Typ", "Geändert am", "Attribute", "Gesamtgröße", "Freier Speicher"};
    for (int r = 0; r < 7; ++r)
        EXPECT_EQ(CatalogueText(lnGerman, r), QString::fromUtf8(germanColumns[r]));
    const char* const frenchColumns[] = {"Nom", "Taille", "Type", "Date", "Attributs"};
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(CatalogueText(lnFrench, r), frenchColumns[r]);
}

TEST(Catalogue, TranslationsFitTheirUse) {
    for (TLanguage lang : kLanguages) {
        // Menu captions carry exactly one accelerator mark; send-to captions none.
        for (int row = crMenuOpen; row <= crTreeProperty; ++row) {
            const int marks = CatalogueText(lang, row).count(u'&');
            const bool sendTo = row >= crSendAnyFolder && row <= crSendDesktopShortcut;
            EXPECT_EQ(marks, sendTo ? 0 : 1) << "language " << int(lang) << " row " << row;
        }
        // Message parts are glued to other text: their outer blanks must match English.
        for (int row = MessageFirstRow; row <= MessageLastRow; ++row) {
            const QString en = CatalogueText(lnEnglish, row);
            const QString tx = CatalogueText(lang, row);
            EXPECT_EQ(tx.startsWith(u' '), en.startsWith(u' ')) << int(lang) << " row " << row;
            EXPECT_EQ(tx.endsWith(u' '), en.endsWith(u' ')) << int(lang) << " row " << row;
        }
        EXPECT_TRUE(CatalogueText(lang, msgFolderQuote).endsWith(u'"'));
        // The new-folder text becomes a folder name.
        EXPECT_FALSE(CatalogueText(lang, msgNewFolder).contains(u'/'));
    }
}

TEST(MessageTable, WritersOwnTheirRows) {
    QList<int> list, combo;
    for (int row = 0; row < CatalogueRowCount; ++row) {
        if (WritesMessageRow(mwFileList, row)) list << row;
        if (WritesMessageRow(mwDirCombo, row)) combo << row;
    }
    EXPECT_EQ(list, QList<int>({41, 42, 45, 46, 47, 48, 49, 50, 51, 52,
                                53, 54, 55, 59, 64, 65, 66, 67, 68, 69}));
    EXPECT_EQ(combo, QList<int>({39, 40, 41, 42, 43, 44, 51, 52, 53, 54, 55,
                                 56, 57, 58, 59, 60, 61, 62, 63, 70, 71}));
}

TEST(MessageTable, LastWriterWinsSharedSlots) {
    TableReset reset;
    ResetMessageTable();
    EXPECT_EQ(MessageText(msgDrive), "Drive ");
    EXPECT_EQ(MessageText(crName), "");  // not a message slot

    LoadMessages(mwFileList, lnGerman);
    EXPECT_EQ(MessageTable().ListLanguage, lnGerman);
    EXPECT_EQ(MessageTable().ComboLanguage, lnEnglish);
    EXPECT_EQ(MessageText(msgDriveNotReady), CatalogueText(lnGerman, msgDriveNotReady));
    EXPECT_EQ(MessageText(msgCancel), "Abbrechen");
    EXPECT_EQ(MessageText(msgDrive), "Drive ");  // the combo's row is untouched

    LoadMessages(mwDirCombo, lnEnglish);
    EXPECT_EQ(MessageTable().ListLanguage, lnGerman);
    for (int row = MessageFirstRow; row <= MessageLastRow; ++row) {
        const TLanguage expected = WritesMessageRow(mwDirCombo, row) ? lnEnglish : lnGerman;
        EXPECT_EQ(MessageText(row), CatalogueText(expected, row)) << "row " << row;
    }

    LoadMessages(mwFileList, lnFrench);
    EXPECT_EQ(MessageText(msgErrorCant), "ERREUR - Impossible de ");
    EXPECT_EQ(MessageText(msgInvalidDirName), "Error - Invalid Directory Name");
}

TEST(MessageTable, ComponentLanguageSetter) {
    TableReset reset;
    ResetMessageTable();
    TLanguage current = lnEnglish;
    EXPECT_FALSE(ApplyComponentLanguage(mwFileList, current, lnEnglish));
    EXPECT_TRUE(ApplyComponentLanguage(mwFileList, current, lnSpanish));
    EXPECT_EQ(current, lnSpanish);
    EXPECT_EQ(MessageTable().ListLanguage, lnSpanish);
    EXPECT_EQ(MessageText(msgNoFilesSelected), CatalogueText(lnSpanish, msgNoFilesSelected));
    // lnSysDefault is never stored.
    ApplyComponentLanguage(mwFileList, current, lnSysDefault);
    EXPECT_NE(current, lnSysDefault);
    EXPECT_NE(MessageTable().ListLanguage, lnSysDefault);
}
