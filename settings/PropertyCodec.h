#pragma once
// Reading and writing one published (Q_PROPERTY) property of a component as ini keys.
//
// Encodings by kind:
// - integer (colours too): signed decimal; text that is not a number reads as 0;
// - enumeration and boolean: the identifier ("alNone", "True"), read back without regard to case;
//   an unknown identifier leaves the property as it was;
// - set (Q_FLAG, member n is bit 1 << n): "[fsBold,fsItalic]" in ascending member order, "[]"
//   when empty; read as words separated by blanks, commas and brackets, unknown words skipped;
// - string: the text; character: one character (its first when read);
// - floating point: decimal text with "." whatever the locale; 64-bit integer: decimal;
// - variant: its text form, read back as a string;
// - string list: a section of its own, "<section>.<key>", with "Count" and "Item0".."ItemN-1";
// - object value (a Q_GADGET such as TFont): each sub-property under key + sub-property name;
// - component reference (pointer to a QObject): its name when it belongs to the storing window,
//   else "<owner>.<name>"; "(null)" for none.
//
// Values are trimmed before writing; an empty value is written only for strings and characters.
// A value that starts and ends with the same quote character is wrapped in one more pair of
// double quotes, because reading strips one pair.
#include <QMetaProperty>
#include <QObject>
#include <QString>
#include <QVariant>

class TIniFile;

namespace PropertyCodec {

enum class TPropKind {
    Unsupported,
    Integer,
    Int64,
    Enumeration,
    Set,
    String,
    Char,
    Float,
    Variant,
    StringList,
    Object,
    Component,
};

TPropKind KindOf(const QMetaProperty& property);

// The property of that name (letter case ignored; the most derived class's first), or an
// invalid property.
QMetaProperty FindProperty(const QObject* object, const QString& name);
// The descendant of root with that objectName (letter case ignored), or null.
QObject* FindComponent(const QObject* root, const QString& name);

// A simple value as text (not for string lists and objects). root is the storing window.
QString EncodeValue(const QMetaProperty& property, const QVariant& value, const QObject* root);
// Converts text into a value of the property's type; false leaves the property unchanged.
bool DecodeValue(const QMetaProperty& property, const QString& text, QVariant& value,
                 const QObject* root);

// Decimal integer of the int range; 0 for anything else. With allowHex a "0x" prefix reads
// hexadecimal and def is returned for text that is not a number.
int ParseInteger(const QString& text, int def = 0, bool allowHex = false);

// Writes a value under the key with the trimming, empty-value and quote rules.
void WriteValue(TIniFile& ini, const QString& section, const QString& key, const QString& value,
                bool writeEmpty);

// Writes / reads one property of a component under keyBase (component name + "_" + property).
void WriteProperty(TIniFile& ini, const QString& section, const QString& keyBase, QObject* object,
                   const QMetaProperty& property, const QObject* root);
void ReadProperty(const TIniFile& ini, const QString& section, const QString& keyBase,
                  QObject* object, const QMetaProperty& property, const QObject* root);

// For the string list and collection sections, which are erased before writing.
void WriteStringList(TIniFile& ini, const QString& section, const QStringList& list);

}  // namespace PropertyCodec
