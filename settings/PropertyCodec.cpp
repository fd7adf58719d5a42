#include "settings/PropertyCodec.h"

#include <QApplication>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>
#include <cstring>
#include <limits>

#include "settings/IniFile.h"

namespace PropertyCodec {

namespace {

const QString kNull = QStringLiteral("(null)");

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The integer held by an enumeration or flags value, whatever its storage size.
qint64 RawEnumValue(const QVariant& value) {
    const int size = value.metaType().sizeOf();
    const void* data = value.constData();
    switch (size) {
        case 1:
            return *static_cast<const qint8*>(data);
        case 2:
            return *static_cast<const qint16*>(data);
        case 4:
            return *static_cast<const qint32*>(data);
        case 8:
            return *static_cast<const qint64*>(data);
        default:
            return value.toLongLong();
    }
}

// A value of the property's enumeration or flags type holding n.
QVariant MakeEnumValue(const QMetaProperty& property, qint64 n) {
    QVariant value(property.metaType());
    void* data = value.data();
    switch (property.metaType().sizeOf()) {
        case 1:
            *static_cast<qint8*>(data) = static_cast<qint8>(n);
            break;
        case 2:
            *static_cast<qint16*>(data) = static_cast<qint16>(n);
            break;
        case 4:
            *static_cast<qint32*>(data) = static_cast<qint32>(n);
            break;
        case 8:
            *static_cast<qint64*>(data) = n;
            break;
        default:
            value = QVariant(static_cast<int>(n));
            break;
    }
    return value;
}

// Set member n's identifier: the key whose value is exactly bit n.
QString MemberName(const QMetaEnum& e, int bit) {
    const int mask = static_cast<int>(1u << bit);
    for (int i = 0; i < e.keyCount(); ++i)
        if (e.value(i) == mask) return QString::fromLatin1(e.key(i));
    return {};
}

// The window or top-level object a component belongs to.
const QObject* OwnerOf(const QObject* component) {
    const QObject* o = component->parent();
    while (o != nullptr && !o->isWidgetType())
        o = o->parent();
    if (o == nullptr) return component->parent();
    return static_cast<const QWidget*>(o)->window();
}

QString OwnerName(const QObject* owner) {
    if (owner == nullptr) return QStringLiteral("Application");
    if (!owner->objectName().isEmpty()) return owner->objectName();
    QString name = QString::fromLatin1(owner->metaObject()->className());
    if (name.startsWith(QLatin1Char('T'))) name.remove(0, 1);
    return name;
}

QString ComponentText(const QObject* component, const QObject* root) {
    if (component == nullptr) return kNull;
    const QObject* owner = OwnerOf(component);
    if (owner == root) return component->objectName();
    return OwnerName(owner) + QLatin1Char('.') + component->objectName();
}

QObject* ComponentFromText(const QString& text, const QObject* root, bool& found) {
    found = true;
    if (SameName(text, kNull)) return nullptr;
    const int dot = text.indexOf(QLatin1Char('.'));
    if (dot < 0) {
        QObject* c = FindComponent(root, text);
        found = c != nullptr;
        return c;
    }
    const QString ownerPart = text.left(dot);
    const QString namePart = text.mid(dot + 1);
    if (root != nullptr && SameName(OwnerName(root), ownerPart)) {
        if (QObject* c = FindComponent(root, namePart)) return c;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!SameName(OwnerName(w), ownerPart)) continue;
        if (QObject* c = FindComponent(w, namePart)) return c;
    }
    found = false;
    return nullptr;
}

QVariant ReadOn(QObject* object, const void* gadget, const QMetaProperty& p) {
    return gadget != nullptr ? p.readOnGadget(gadget) : p.read(object);
}

void WriteOn(QObject* object, void* gadget, const QMetaProperty& p, const QVariant& v) {
    if (gadget != nullptr)
        p.writeOnGadget(gadget, v);
    else
        p.write(object, v);
}

QString ListSection(const QString& section, const QString& key) {
    return section + QLatin1Char('.') + key;
}

// One simple (non-object) property of an object or gadget.
void WriteSimple(TIniFile& ini, const QString& section, const QString& key, QObject* object,
                 const void* gadget, const QMetaProperty& p, const QObject* root) {
    const TPropKind kind = KindOf(p);
    const QVariant value = ReadOn(object, gadget, p);
    if (kind == TPropKind::StringList) {
        WriteStringList(ini, ListSection(section, key), value.toStringList());
        return;
    }
    if (kind == TPropKind::Unsupported || kind == TPropKind::Object) return;
    WriteValue(ini, section, key, EncodeValue(p, value, root),
               kind == TPropKind::String || kind == TPropKind::Char);
}

// Reads one simple property into the object or gadget; false when nothing was assigned.
bool ReadSimple(const TIniFile& ini, const QString& section, const QString& key, QObject* object,
                void* gadget, const QMetaProperty& p, const QObject* root) {
    const TPropKind kind = KindOf(p);
    if (kind == TPropKind::Unsupported || kind == TPropKind::Object || !p.isWritable())
        return false;
    if (kind == TPropKind::StringList) {
        const QString listSection = ListSection(section, key);
        const int count = ParseInteger(
            ini.ReadString(listSection, QStringLiteral("Count"), QStringLiteral("0")).trimmed());
        if (count <= 0) return false;
        // A damaged count cannot make the list longer than the section's keys.
        const int limit = static_cast<int>(ini.ReadSection(listSection).size());
        QStringList list;
        for (int i = 0; i < count && i < limit; ++i)
            list.append(ini.ReadString(listSection, QStringLiteral("Item%1").arg(i), QString()));
        WriteOn(object, gadget, p, QVariant(list));
        return true;
    }
    const QVariant current = ReadOn(object, gadget, p);
    const QString text = ini.ReadString(section, key, EncodeValue(p, current, root)).trimmed();
    QVariant value;
    if (!DecodeValue(p, text, value, root)) return false;
    WriteOn(object, gadget, p, value);
    return true;
}

}  // namespace

TPropKind KindOf(const QMetaProperty& p) {
    if (p.isEnumType()) return p.isFlagType() ? TPropKind::Set : TPropKind::Enumeration;
    const QMetaType type = p.metaType();
    switch (type.id()) {
        case QMetaType::Bool:
            return TPropKind::Enumeration;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return TPropKind::Integer;
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return TPropKind::Int64;
        case QMetaType::Char:
        case QMetaType::QChar:
            return TPropKind::Char;
        case QMetaType::Float:
        case QMetaType::Double:
            return TPropKind::Float;
        case QMetaType::QString:
        case QMetaType::QByteArray:
            return TPropKind::String;
        case QMetaType::QStringList:
            return TPropKind::StringList;
        case QMetaType::QVariant:
            return TPropKind::Variant;
        default:
            break;
    }
    if (type.flags() & QMetaType::PointerToQObject) return TPropKind::Component;
    if ((type.flags() & QMetaType::IsGadget) && type.metaObject() != nullptr)
        return TPropKind::Object;
    return TPropKind::Unsupported;
}

QMetaProperty FindProperty(const QObject* object, const QString& name) {
    if (object == nullptr) return {};
    // Qt's own properties ("visible", "width", "font") differ from the toolkit's only in case:
    // the most derived class's property wins.
    const QMetaObject* mo = object->metaObject();
    for (int i = mo->propertyCount() - 1; i >= 0; --i) {
        const QMetaProperty p = mo->property(i);
        if (SameName(QString::fromLatin1(p.name()), name)) return p;
    }
    return {};
}

QObject* FindComponent(const QObject* root, const QString& name) {
    if (root == nullptr || name.isEmpty()) return nullptr;
    const QList<QObject*> all = root->findChildren<QObject*>();
    for (QObject* o : all)
        if (SameName(o->objectName(), name)) return o;
    return nullptr;
}

int ParseInteger(const QString& text, int def, bool allowHex) {
    const QString t = text.trimmed();
    bool ok = false;
    qlonglong n;
    if (allowHex && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X"))))
        n = t.mid(2).toLongLong(&ok, 16);
    else
        n = t.toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return allowHex ? def : 0;
    return static_cast<int>(n);
}

QString EncodeValue(const QMetaProperty& p, const QVariant& value, const QObject* root) {
    switch (KindOf(p)) {
        case TPropKind::Integer:
            return QString::number(value.toInt());
        case TPropKind::Int64:
            return QString::number(value.toLongLong());
        case TPropKind::Enumeration: {
            if (p.metaType().id() == QMetaType::Bool)
                return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
            const QMetaEnum e = p.enumerator();
            const char* key = e.valueToKey(static_cast<int>(RawEnumValue(value)));
            return key != nullptr ? QString::fromLatin1(key) : QString::number(RawEnumValue(value));
        }
        case TPropKind::Set: {
            const QMetaEnum e = p.enumerator();
            const quint32 bits = static_cast<quint32>(RawEnumValue(value));
            QStringList members;
            for (int bit = 0; bit < 32; ++bit) {
                if ((bits & (1u << bit)) == 0) continue;
                const QString name = MemberName(e, bit);
                if (!name.isEmpty()) members.append(name);
            }
            return QLatin1Char('[') + members.join(QLatin1Char(',')) + QLatin1Char(']');
        }
        case TPropKind::String:
            return value.toString();
        case TPropKind::Char: {
            const QString s = value.toString();
            return s.left(1);
        }
        case TPropKind::Float:
            return QString::number(value.toDouble(), 'g', 15);
        case TPropKind::Variant:
            return value.value<QVariant>().toString();
        case TPropKind::Component:
            return ComponentText(value.value<QObject*>(), root);
        default:
            return {};
    }
}

bool DecodeValue(const QMetaProperty& p, const QString& text, QVariant& value,
                 const QObject* root) {
    switch (KindOf(p)) {
        case TPropKind::Integer:
            value = QVariant(ParseInteger(text));
            break;
        case TPropKind::Int64: {
            bool ok = false;
            const qlonglong n = text.trimmed().toLongLong(&ok);
            value = QVariant(ok ? n : 0LL);
            break;
        }
        case TPropKind::Enumeration: {
            if (p.metaType().id() == QMetaType::Bool) {
                if (SameName(text, QStringLiteral("True")))
                    value = QVariant(true);
                else if (SameName(text, QStringLiteral("False")))
                    value = QVariant(false);
                else
                    return false;
                return true;
            }
            const QMetaEnum e = p.enumerator();
            for (int i = 0; i < e.keyCount(); ++i) {
                if (SameName(QString::fromLatin1(e.key(i)), text)) {
                    value = MakeEnumValue(p, e.value(i));
                    return true;
                }
            }
            return false;
        }
        case TPropKind::Set: {
            const QMetaEnum e = p.enumerator();
            static const QRegularExpression separators(QStringLiteral("[\\s,\\[\\]]+"));
            quint32 bits = 0;
            for (const QString& word : text.split(separators, Qt::SkipEmptyParts)) {
                for (int bit = 0; bit < 32; ++bit) {
                    const QString name = MemberName(e, bit);
                    if (!name.isEmpty() && SameName(name, word)) {
                        bits |= 1u << bit;
                        break;
                    }
                }
            }
            value = MakeEnumValue(p, static_cast<qint32>(bits));
            return true;
        }
        case TPropKind::String:
            if (p.metaType().id() == QMetaType::QByteArray)
                value = QVariant(text.toUtf8());
            else
                value = QVariant(text);
            break;
        case TPropKind::Char:
            if (text.isEmpty()) return false;
            if (p.metaType().id() == QMetaType::Char)
                value = QVariant::fromValue(static_cast<char>(text.at(0).toLatin1()));
            else
                value = QVariant::fromValue(text.at(0));
            break;
        case TPropKind::Float: {
            bool ok = false;
            const double d = text.trimmed().toDouble(&ok);  // always "." as separator
            if (!ok) return false;
            value = QVariant(d);
            break;
        }
        case TPropKind::Variant:
            value = QVariant(text);
            return true;
        case TPropKind::Component: {
            bool found = false;
            QObject* c = ComponentFromText(text, root, found);
            if (!found) return false;
            if (c != nullptr) {
                const QMetaObject* wanted = p.metaType().metaObject();
                if (wanted != nullptr && !c->metaObject()->inherits(wanted)) return false;
            }
            QVariant v = QVariant::fromValue(c);
            if (!v.convert(p.metaType())) return false;
            value = v;
            break;
        }
        default:
            return false;
    }
    if (value.metaType() != p.metaType() && !value.convert(p.metaType())) return false;
    return true;
}

void WriteValue(TIniFile& ini, const QString& section, const QString& key, const QString& value,
                bool writeEmpty) {
    QString text = value.trimmed();
    if (text.isEmpty() && !writeEmpty) return;
    if (!text.isEmpty()) {
        const QChar first = text.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && text.back() == first)
            text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    ini.WriteString(section, key, text);
}

void WriteStringList(TIniFile& ini, const QString& section, const QStringList& list) {
    ini.EraseSection(section);
    if (list.isEmpty()) return;
    ini.WriteString(section, QStringLiteral("Count"), QString::number(list.size()));
    for (int i = 0; i < list.size(); ++i)
        WriteValue(ini, section, QStringLiteral("Item%1").arg(i), list[i], true);
}

void WriteProperty(TIniFile& ini, const QString& section, const QString& keyBase, QObject* object,
                   const QMetaProperty& property, const QObject* root) {
    if (KindOf(property) != TPropKind::Object) {
        WriteSimple(ini, section, keyBase, object, nullptr, property, root);
        return;
    }
    const QVariant value = property.read(object);
    const QMetaObject* mo = property.metaType().metaObject();
    for (int i = 0; i < mo->propertyCount(); ++i) {
        const QMetaProperty sub = mo->property(i);
        const QString key = keyBase + QString::fromLatin1(sub.name());
        WriteSimple(ini, section, key, nullptr, value.constData(), sub, root);
    }
}

void ReadProperty(const TIniFile& ini, const QString& section, const QString& keyBase,
                  QObject* object, const QMetaProperty& property, const QObject* root) {
    if (KindOf(property) != TPropKind::Object) {
        ReadSimple(ini, section, keyBase, object, nullptr, property, root);
        return;
    }
    if (!property.isWritable()) return;
    // The sub-properties are applied to one copy in declaration order (so a font's Size, after
    // Height, wins) and the result is assigned once.
    QVariant value = property.read(object);
    const QMetaObject* mo = property.metaType().metaObject();
    bool changed = false;
    for (int i = 0; i < mo->propertyCount(); ++i) {
        const QMetaProperty sub = mo->property(i);
        const QString key = keyBase + QString::fromLatin1(sub.name());
        changed |= ReadSimple(ini, section, key, nullptr, value.data(), sub, root);
    }
    if (changed) property.write(object, value);
}

}  // namespace PropertyCodec
