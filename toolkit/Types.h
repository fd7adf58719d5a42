#pragma once
// Enumerations and sets shared by the toolkit controls. They live in a Qt meta-namespace so that
// the settings store can write and read their identifiers (alClient, fpDefault, [fsBold]) through
// QMetaEnum. Properties must name them fully qualified (Toolkit::TAlign) for moc; the
// `using` lines below make the identifiers available unqualified to ordinary code.
#include <QObject>

namespace Toolkit {
Q_NAMESPACE

// Where a control sits inside its parent (see TAlignLayout).
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
Q_ENUM_NS(TAlign)

enum TFontPitch { fpDefault, fpVariable, fpFixed };
Q_ENUM_NS(TFontPitch)

// Font style set; member n is bit (1 << n) so that the ascending order of the set is the
// order of the identifiers.
enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_FLAG_NS(TFontStyles)

// Scroll bars of a memo.
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
Q_ENUM_NS(TScrollStyle)

// Kind of a message dialog.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
Q_ENUM_NS(TMsgDlgType)

// Buttons of a message dialog (a set) and the dialog's result.
enum TMsgDlgBtn { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_FLAG_NS(TMsgDlgButtons)

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };
Q_ENUM_NS(TModalResult)

}  // namespace Toolkit

Q_DECLARE_OPERATORS_FOR_FLAGS(Toolkit::TFontStyles)
Q_DECLARE_OPERATORS_FOR_FLAGS(Toolkit::TMsgDlgButtons)

using Toolkit::TAlign;
using Toolkit::TFontPitch;
using Toolkit::TFontStyle;
using Toolkit::TFontStyles;
using Toolkit::TModalResult;
using Toolkit::TMsgDlgBtn;
using Toolkit::TMsgDlgButtons;
using Toolkit::TMsgDlgType;
using Toolkit::TScrollStyle;
using enum Toolkit::TAlign;
using enum Toolkit::TFontPitch;
using enum Toolkit::TFontStyle;
using enum Toolkit::TScrollStyle;
using enum Toolkit::TMsgDlgType;
using enum Toolkit::TMsgDlgBtn;
using enum Toolkit::TModalResult;

// For property setters: stores value in field and tells whether that changed it, so that a
// setter acts only on a change: `if (ChangeValue(stretch_, value)) PictureChanged();`.
template <class T, class V>
bool ChangeValue(T& field, const V& value) {
    if (value == field) return false;
    field = value;
    return true;
}
