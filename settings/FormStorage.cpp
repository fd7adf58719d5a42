#include "settings/FormStorage.h"

#include "settings/IniFile.h"
#include "settings/PropertyCodec.h"

namespace {

// Calls visit(component, property, keyBase) for every entry whose component and property still
// exist; keyBase is the key prefix "<object name>_<property name>" of the stored values.
template <class Entries, class Visit>
void ForEachStoredProperty(const Entries& entries, Visit visit) {
    for (const auto& entry : entries) {
        QObject* component = entry.component;
        if (component == nullptr) continue;
        const QMetaProperty property = PropertyCodec::FindProperty(component, entry.property);
        if (!property.isValid()) continue;
        visit(component, property,
              component->objectName() + QLatin1Char('_') + QString::fromLatin1(property.name()));
    }
}

}  // namespace

TFormStorage::TFormStorage(const QString& name, QObject* owner) : TFormPlacement(name, owner) {}

QStringList TFormStorage::StoredProps() const {
    QStringList list;
    for (const Entry& entry : entries_)
        if (!entry.resolved || entry.component != nullptr) list.append(entry.text);
    return list;
}

void TFormStorage::SetStoredProps(const QStringList& value) {
    entries_.clear();
    for (const QString& text : value)
        entries_.append(Entry{text, QString(), nullptr, false});
    if (IsLoaded()) Resolve();
}

QObject* TFormStorage::EntryComponent(int index) const {
    int i = 0;
    for (const Entry& entry : entries_) {
        if (entry.resolved && entry.component == nullptr) continue;
        if (i++ == index) return entry.component;
    }
    return nullptr;
}

void TFormStorage::Loaded() {
    TFormPlacement::Loaded();
    Resolve();
}

void TFormStorage::Resolve() {
    const QObject* root = parent();
    for (int i = entries_.size() - 1; i >= 0; --i) {
        Entry& entry = entries_[i];
        if (entry.resolved) continue;
        const int dot = entry.text.indexOf(QLatin1Char('.'));
        const QString componentPart = dot < 0 ? QString() : entry.text.left(dot).trimmed();
        const QString propertyPart = dot < 0 ? QString() : entry.text.mid(dot + 1).trimmed();
        QObject* component = componentPart.isEmpty() || propertyPart.isEmpty()
                                 ? nullptr
                                 : PropertyCodec::FindComponent(root, componentPart);
        if (component == nullptr) {
            entries_.removeAt(i);
            continue;
        }
        entry.property = propertyPart;
        entry.component = component;
        entry.resolved = true;
    }
}

void TFormStorage::Purge() {
    if (!IsLoaded()) Loaded();
    entries_.removeIf([](const Entry& e) { return e.resolved && e.component == nullptr; });
}

void TFormStorage::RestoreProperties() {
    Purge();
    TIniFile* ini = IniFile();
    const QString section = EffectiveIniSection();
    // Over a copy: reading a property may change the list.
    ForEachStoredProperty(
        QList<Entry>(entries_),
        [&](QObject* component, const QMetaProperty& property, const QString& keyBase) {
            try {
                PropertyCodec::ReadProperty(*ini, section, keyBase, component, property, parent());
            } catch (...) {
                // A property that cannot be read keeps its value; the others are still read.
            }
        });
    for (TStoredValue& value : storedValues_) {
        value.Value = ini->ReadString(section, value.Name, value.Value).trimmed();
        if (value.OnRestore) value.OnRestore(value);
    }
}

void TFormStorage::SaveProperties() {
    Purge();
    TIniFile* ini = IniFile();
    const QString section = EffectiveIniSection();
    ForEachStoredProperty(
        entries_, [&](QObject* component, const QMetaProperty& property, const QString& keyBase) {
            PropertyCodec::WriteProperty(*ini, section, keyBase, component, property, parent());
        });
    for (TStoredValue& value : storedValues_) {
        if (value.OnSave) value.OnSave(value);
        PropertyCodec::WriteValue(*ini, section, value.Name, value.Value, true);
    }
}
